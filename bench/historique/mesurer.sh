#!/bin/sh
# SPDX-License-Identifier: MIT
# Benchmark of the dashboard's history over 30 days and a year: builds the
# Release programs (Qt 5), runs bench/historique/mesurer.py (a few minutes,
# most of them to make the files; --garder=DOSSIER keeps them for the next
# run) and puts its section into bench/RESULTS.md. Uses the collector's
# display port 56000.
set -eu

racine=$(cd "$(dirname "$0")/../.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/release-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF >/dev/null
cmake --build "$construction" --target collecteur collecteur-web collecteur-archive

section=$(mktemp)
/usr/bin/python3 "$racine/bench/historique/mesurer.py" --web="$construction/web/collecteur-web" \
    --archive="$construction/archive/collecteur-archive" --collecteur="$construction/src/app/collecteur" "$@" >"$section"
cat "$section"
resultats="$racine/bench/RESULTS.md"
# The section replaces the one of an earlier run, and the rest stays.
/usr/bin/python3 - "$resultats" "$section" <<'PY'
import sys
resultats, section = sys.argv[1], open(sys.argv[2]).read()
try:
    texte = open(resultats).read()
except FileNotFoundError:
    texte = ""
debut = texte.find("## History over any range")
if debut >= 0:
    fin = texte.find("\n## ", debut + 1)
    texte = texte[:debut] + (texte[fin + 1:] if fin >= 0 else "")
open(resultats, "w").write(texte.rstrip("\n") + "\n\n" + section)
PY
rm -f "$section"
