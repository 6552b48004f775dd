#!/bin/sh
# SPDX-License-Identifier: MIT
# Benchmark of collecteur-web: builds a Release program (Qt 5), runs
# bench/web.py (about two minutes) and puts its section into bench/RESULTS.md.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/release-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF >/dev/null
cmake --build "$construction" --target collecteur-web

section=$(mktemp)
/usr/bin/python3 "$racine/bench/web.py" --web="$construction/web/collecteur-web" "$@" >"$section"
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
debut = texte.find("## collecteur-web")
if debut >= 0:
    fin = texte.find("\n## ", debut + 1)
    texte = texte[:debut] + (texte[fin + 1:] if fin >= 0 else "")
open(resultats, "w").write(texte.rstrip("\n") + "\n\n" + section)
PY
rm -f "$section"
