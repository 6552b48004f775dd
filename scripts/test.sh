#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the collector and its tests, with warnings as errors, and runs every
# test, for each Qt major version given (default: 5 and 6); as root, then
# builds, installs and purges the Debian packages (scripts/test-paquets.sh).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
majors=${*:-5 6}
"$racine/scripts/install-deps.sh" $majors essais

for major in $majors; do
    construction="$racine/build/test-qt$major"
    echo "== Qt $major: $construction"
    cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCOLLECTEUR_QT_MAJOR="$major" -DCOLLECTEUR_WERROR=ON >/dev/null
    cmake --build "$construction"
    (cd "$construction" && ctest --output-on-failure --timeout 600)
done

# The Debian packages, installed and purged on this machine: root only.
if [ "$(id -u)" -eq 0 ]; then
    "$racine/scripts/test-paquets.sh"
else
    echo "== Paquets Debian : essai sauté (il installe et purge des paquets, root seulement : scripts/test-paquets.sh)"
fi
