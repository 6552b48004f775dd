#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian packages (Release, Qt 5) into build/paquets-qt5/:
# collecteur_*.deb, collecteur-sonde_*.deb and collecteur-outils_*.deb.
# Arguments are passed on to CMake's configuration (-DCOLLECTEUR_REVISION_DEBIAN=2
# for a second package of the same version; 1 otherwise).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5 paquets
construction="$racine/build/paquets-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCOLLECTEUR_QT_MAJOR=5 \
      -DCOLLECTEUR_PAQUETS=ON -DBUILD_TESTING=OFF -DCOLLECTEUR_BENCH=OFF -DCOLLECTEUR_REVISION_DEBIAN=1 "$@" >/dev/null
rm -f "$construction"/*.deb
cmake --build "$construction" --target package -j2
ls "$construction"/*.deb
