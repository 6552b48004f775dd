#!/bin/sh
# SPDX-License-Identifier: MIT
# Benchmark of signed reports: builds the collector and its tools in Release
# (Qt 5), runs bench/signatures.py (about five minutes) and puts its section
# into bench/RESULTS.md. Options are passed on to bench/signatures.py.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/bench-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF -DCOLLECTEUR_BENCH=ON >/dev/null
cmake --build "$construction" -j 2
section=$(mktemp)
/usr/bin/python3 "$racine/bench/signatures.py" --construction="$construction" "$@" >"$section"
cat "$section"
/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import resultats; resultats.ecrire_section(sys.argv[2], "## Signed reports", open(sys.argv[3]).read())' \
    "$racine/bench" "$racine/bench/RESULTS.md" "$section"
rm -f "$section"
