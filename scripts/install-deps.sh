#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs, from Debian 12's packages, what building and testing the collector
# needs for the given Qt major versions (default: 5); with "essais" what the
# tests run beside the programs (a headless browser and its driver, a
# Prometheus server, openssl for certificates), with "paquets" what building
# and checking the Debian packages needs, with "fuzz" what the fuzz targets
# need (clang and libFuzzer). Does nothing, and needs no network, when
# everything is already there.
set -eu

majors=${*:-5}
paquets="build-essential cmake ninja-build pkg-config faketime sqlite3 libsqlite3-dev libvirt-dev libmicrohttpd-dev libcrypt-dev librrd-dev libssl-dev"
for major in $majors; do
    case $major in
        5) paquets="$paquets qtbase5-dev libqt5sql5-sqlite" ;;
        6) paquets="$paquets qt6-base-dev libqt6sql6-sqlite" ;;
        fuzz) paquets="$paquets clang-14 libclang-rt-14-dev" ;;
        essais) paquets="$paquets chromium chromium-driver python3-selenium prometheus prometheus-alertmanager openssl" ;;
        paquets) paquets="$paquets dpkg-dev fakeroot lintian file" ;;
        *) echo "install-deps: version de Qt inconnue : $major" >&2; exit 2 ;;
    esac
done

manquants=""
for paquet in $paquets; do
    statut=$(dpkg-query -W -f='${Status}' "$paquet" 2>/dev/null || true)
    [ "$statut" = "install ok installed" ] || manquants="$manquants $paquet"
done
[ -z "$manquants" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: paquets manquants :$manquants (relancer en root)" >&2
    exit 1
fi
echo "install-deps: installation de$manquants" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $manquants
