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
# In a network namespace of its own when it can: other programs' display
# clients on this machine would otherwise connect to the collector's fixed
# display port, and their frames would count in its memory.
if command -v unshare >/dev/null && command -v ip >/dev/null && unshare --net true 2>/dev/null; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh \
         python3 "$racine/bench/disque-plein.py" --isole --construction="$construction" --sortie="$racine/bench/RESULTS.md" "$@"
fi
exec python3 "$racine/bench/disque-plein.py" --construction="$construction" --sortie="$racine/bench/RESULTS.md" "$@"
