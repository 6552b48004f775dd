#!/bin/sh
# SPDX-License-Identifier: MIT
# The collector's benchmark, in one command: builds the collector, its tools
# and the benchmark's programs in Release (Qt 5), runs every measurement and
# writes bench/RESULTS.md. Takes about half an hour on two cores.
# "bench/run.sh cpu" measures only the CPU time per report at a fixed rate, in
# a few minutes. Options are passed on to bench/banc.py (--help lists them).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = cpu ]; then
    shift
    set -- --parties=cpu "$@"
fi
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/bench-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF -DCOLLECTEUR_BENCH=ON >/dev/null
cmake --build "$construction" -j 2
exec python3 "$racine/bench/banc.py" --construction="$construction" --sortie="$racine/bench/RESULTS.md" "$@"
