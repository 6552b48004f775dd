#!/bin/sh
# SPDX-License-Identifier: MIT
# Time and CPU of collecteur-archive rolling one hour of a 1,000-host fleet
# (20 VMs each, a report every 10 s): the first hour creates the archive's
# 21,000 files (17.85 GB), the second is the hourly case. Needs about 20 GB
# free in DOSSIER and /usr/bin/time (package time).
#   bench/archive/mesurer.sh BINAIRE DOSSIER
set -eu
binaire=$1
dossier=$2
ici=$(dirname "$0")
mkdir -p "$dossier"
heure=$(( $(date +%s) / 3600 * 3600 - 7200 ))
for fin in $heure $((heure + 3600)); do
    "$ici/generer-sauvegarde.py" --fin "$fin" "$dossier" >/dev/null
done
# Each hour alone, as they come: the newer one waits aside meanwhile.
seconde=$(ls "$dossier"/collecteur*.db | sort | tail -n 1)
mv "$seconde" "$seconde.attente"
for passage in creation horaire; do
    sync
    echo "== $passage"
    /usr/bin/time -f "%e s écoulées, %U s utilisateur, %S s système, %M Kio résidents au plus" \
        "$binaire" --une-fois --sauvegardes="$dossier" --brut=30j
    [ -e "$seconde.attente" ] && mv "$seconde.attente" "$seconde"
done
du -sb "$dossier/archive" | awk '{print "archive : " $1 " octets"}'
find "$dossier/archive" -name '*.rrd' | wc -l | awk '{print "fichiers RRD : " $1}'
