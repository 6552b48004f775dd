#!/bin/sh
# SPDX-License-Identifier: MIT
# Benchmark of collecteur-web: builds a Release program (Qt 5), runs
# bench/web.py (about two minutes), then bench/alertes.py (about two more), and
# puts their sections into bench/RESULTS.md.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/release-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF >/dev/null
cmake --build "$construction" --target collecteur-web

section=$(mktemp)
resultats="$racine/bench/RESULTS.md"
/usr/bin/python3 "$racine/bench/web.py" --web="$construction/web/collecteur-web" "$@" >"$section"
cat "$section"
# Each section replaces the one of an earlier run, and the rest stays.
/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import resultats; resultats.ecrire_section(sys.argv[2], "## collecteur-web\n", open(sys.argv[3]).read())' \
    "$racine/bench" "$resultats" "$section"
/usr/bin/python3 "$racine/bench/alertes.py" --web="$construction/web/collecteur-web" >"$section"
cat "$section"
/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import resultats; resultats.ecrire_section(sys.argv[2], "## Alerts (collecteur-web)", open(sys.argv[3]).read())' \
    "$racine/bench" "$resultats" "$section"
rm -f "$section"
