#!/bin/sh
# SPDX-License-Identifier: MIT
# The collector on a full disk: builds the collector and the agent in Release
# (Qt 5), then samples the collector's resident memory against --memoire-max
# over ten simulated hours in a full tmpfs, into its own section of
# bench/RESULTS.md. Root only; takes about four minutes. Options are passed on
# to bench/disque-plein.py (--help lists them).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/bench-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF -DCOLLECTEUR_BENCH=ON >/dev/null
cmake --build "$construction" -j 2 --target collecteur collecteur-agent
exec python3 "$racine/bench/disque-plein.py" --construction="$construction" --sortie="$racine/bench/RESULTS.md" "$@"
