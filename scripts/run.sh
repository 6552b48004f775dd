#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the collector (Qt 5.15) and runs it in the current directory, where
# its backup files go. Arguments are passed on (for instance --port=55001).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/release-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF >/dev/null
cmake --build "$construction"
exec "$construction/src/app/collecteur" "$@"
