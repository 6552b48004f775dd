#!/bin/sh
# SPDX-License-Identifier: MIT
# The hypervisor agent's benchmark: builds collecteur-sonde in Release (Qt 5)
# and measures its CPU time per report and its resident memory with 100
# libvirt test-driver domains, into its own section of bench/RESULTS.md.
# Takes about four minutes. Options are passed on to bench/sonde.py.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/bench-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF -DCOLLECTEUR_BENCH=ON >/dev/null
cmake --build "$construction" -j 2 --target collecteur-sonde
exec python3 "$racine/bench/sonde.py" --construction="$construction" --sortie="$racine/bench/RESULTS.md" "$@"
