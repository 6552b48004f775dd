#!/bin/sh
# SPDX-License-Identifier: MIT
# One command to see the dashboard: builds what is missing (Release, Qt 5),
# then runs a collector, twenty simulated hypervisors and collecteur-web in a
# temporary folder, and prints the address to open. Ctrl-C stops all of it.
# The collector uses its fixed display port 56000 and UDP port 55000 unless
# DEMO_PORT_UDP says otherwise; DEMO_PORT_WEB changes the page's port (56080).
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5
construction="$racine/build/release-qt5"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCOLLECTEUR_QT_MAJOR=5 -DBUILD_TESTING=OFF >/dev/null
cmake --build "$construction" --target collecteur collecteur-agent collecteur-web

port_udp=${DEMO_PORT_UDP:-55000}
port_web=${DEMO_PORT_WEB:-56080}
dossier=$(mktemp -d "${TMPDIR:-/tmp}/collecteur-demo.XXXXXX")
pids=""

arreter() {
    trap - INT TERM EXIT
    for pid in $pids; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in $pids; do
        wait "$pid" 2>/dev/null || true
    done
    echo "demo: arrêtée ; sauvegardes et journaux dans $dossier" >&2
}
trap arreter INT TERM EXIT

cd "$dossier"
"$construction/src/app/collecteur" --port="$port_udp" 2>collecteur.log &
pids="$! $pids"
"$construction/web/collecteur-web" --ecoute=127.0.0.1:"$port_web" --sauvegardes="$dossier" &
pids="$! $pids"
sleep 1
"$construction/tools/agent/collecteur-agent" --port="$port_udp" --hyperviseurs=20 --vms=8 --rythme=1 \
    --silencieux 2>agent.log &
pids="$! $pids"

echo "demo: ouvrir http://127.0.0.1:$port_web/ (Ctrl-C pour tout arrêter)" >&2
wait
