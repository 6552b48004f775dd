#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian packages and checks them as an operator meets them, on
# this machine, as root: lintian, installation with apt-get, the files and
# units where the README says, the installed collector and agent run against
# each other as their units start them (without systemd), then an upgrade,
# the removal and the purge, and what each leaves. Takes the collector's display port 56000: run
# it under `flock /tmp/collecteur-56000.lock` as the other tests. Refuses to
# run where the packages, their user or /var/lib/collecteur already are, and
# leaves none of them behind.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "test-paquets: installe des paquets, à lancer en root" >&2
    exit 1
fi
flock /tmp/apt.lock "$racine/scripts/install-deps.sh" 5 paquets
export DEBIAN_FRONTEND=noninteractive

for paquet in collecteur collecteur-sonde collecteur-outils; do
    case $(dpkg-query -W -f='${Status}' "$paquet" 2>/dev/null || true) in
        '' | *not-installed) ;;
        *) echo "test-paquets: $paquet est déjà sur cette machine, essai refusé" >&2; exit 1 ;;
    esac
done
if getent passwd collecteur >/dev/null || getent group collecteur >/dev/null || [ -e /var/lib/collecteur ]; then
    echo "test-paquets: l'utilisateur collecteur ou /var/lib/collecteur existe déjà, essai refusé" >&2
    exit 1
fi

temporaire=$(mktemp -d)
pids=""
nettoyer() {
    for pid in $pids; do
        kill "$pid" 2>/dev/null || true
    done
    flock /tmp/apt.lock apt-get purge -y -qq collecteur collecteur-sonde >/dev/null 2>&1 || true
    if getent passwd collecteur >/dev/null; then
        deluser --quiet --system collecteur >/dev/null 2>&1 || true
    fi
    if getent group collecteur >/dev/null; then
        delgroup --quiet --system collecteur >/dev/null 2>&1 || true
    fi
    rm -rf /var/lib/collecteur "$temporaire"
}
trap nettoyer EXIT
trap 'exit 1' HUP INT PIPE TERM

echo "== Paquets Debian : construction"
# A revision 2 of the same packages, to upgrade to.
construction="$racine/build/paquets-qt5"
"$racine/scripts/paquets.sh" -DCOLLECTEUR_REVISION_DEBIAN=2 >/dev/null
mkdir "$temporaire/revision2"
cp "$construction"/collecteur_*.deb "$construction"/collecteur-sonde_*.deb "$temporaire/revision2/"
"$racine/scripts/paquets.sh" >/dev/null
serveur=$(ls "$construction"/collecteur_*_amd64.deb)
sonde=$(ls "$construction"/collecteur-sonde_*_amd64.deb)
outils=$(ls "$construction"/collecteur-outils_*_amd64.deb)

echecs=0
verifier() {
    description=$1
    shift
    if "$@"; then
        echo "ok     $description"
    else
        echo "ÉCHEC  $description" >&2
        echecs=$((echecs + 1))
    fi
}
contient() { printf '%s\n' "$2" | grep -Eq -- "$1"; }
absent() { ! printf '%s\n' "$2" | grep -Eq -- "$1"; }
lien() { [ "$(readlink "$1")" = "$2" ]; }
proprietaire() { [ "$(stat -c '%U:%G %a' "$1")" = "$2" ]; }
existe() { getent passwd "$1" >/dev/null; }
rien_sous() { [ -z "$(find "$1" -name "$2" 2>/dev/null)" ]; }

echo "== lintian"
verifier "lintian : ni erreur ni avertissement" \
    lintian --fail-on error,warning "$serveur" "$sonde" "$outils"

echo "== Contenu et dépendances"
verifier "collecteur dépend du pilote SQLite de Qt, de adduser et de ce que ses binaires lient" \
    contient 'libqt5sql5-sqlite.*adduser.*libqt5core5a.*libqt5network5.*libqt5sql5 ' "$(dpkg-deb -f "$serveur" Depends)"
verifier "collecteur-sonde ne dépend ni de Qt Sql ni du collecteur" \
    absent 'sql|collecteur' "$(dpkg-deb -f "$sonde" Depends)"
verifier "collecteur-sonde dépend de libvirt" contient 'libvirt0' "$(dpkg-deb -f "$sonde" Depends)"
verifier "versions du projet, révision Debian 1" \
    contient "^$(sed -n 's/^project(collecteur VERSION \([0-9.]*\).*/\1/p' "$racine/CMakeLists.txt")-1\$" \
    "$(dpkg-deb -f "$serveur" Version)"
for paquet in "$serveur" "$sonde"; do
    verifier "$(basename "$paquet") : ni simulateur ni banc d'essai" \
        absent 'collecteur-agent|bench|tst_' "$(dpkg-deb -c "$paquet")"
done
verifier "collecteur-outils : le simulateur seul" \
    contient '^\./usr/bin/collecteur-agent$' "$(dpkg-deb -c "$outils" | awk '{print $6}' | grep /bin/)"

echo "== Installation"
(cd "$construction" && flock /tmp/apt.lock apt-get install -y -qq "./$(basename "$serveur")" "./$(basename "$sonde")") \
    >"$temporaire/apt.log" 2>&1 || { cat "$temporaire/apt.log" >&2; exit 1; }
for fichier in /usr/bin/collecteur /usr/bin/collecteur-afficheur /usr/bin/collecteur-web /usr/bin/collecteur-archive \
               /usr/bin/collecteur-sonde; do
    verifier "$fichier" test -x "$fichier"
done
for fichier in /lib/systemd/system/collecteur.service /lib/systemd/system/collecteur-web.service \
               /lib/systemd/system/collecteur-archive.service /lib/systemd/system/collecteur-sonde.service \
               /etc/default/collecteur /etc/default/collecteur-archive /etc/default/collecteur-sonde \
               /usr/share/doc/collecteur/README.md /usr/share/doc/collecteur/LICENSE \
               /usr/share/doc/collecteur/copyright /usr/share/doc/collecteur/changelog.Debian.gz \
               /usr/share/doc/collecteur-sonde/README.md /usr/share/doc/collecteur-sonde/copyright \
               /usr/share/doc/collecteur-sonde/changelog.Debian.gz; do
    verifier "$fichier" test -f "$fichier"
done
verifier "pas de simulateur installé" test ! -e /usr/bin/collecteur-agent
verifier "changelog lisible, version du paquet" \
    contient "^collecteur \\($(dpkg-deb -f "$serveur" Version)\\)" "$(zcat /usr/share/doc/collecteur/changelog.Debian.gz)"
verifier "/etc/default/collecteur : fichier de configuration" \
    contient '^ */etc/default/collecteur ' "$(dpkg-query -W -f='${Conffiles}' collecteur)"
verifier "/etc/default/collecteur-archive : fichier de configuration" \
    contient '^ */etc/default/collecteur-archive ' "$(dpkg-query -W -f='${Conffiles}' collecteur)"
verifier "/etc/default/collecteur-sonde : fichier de configuration" \
    contient '^ */etc/default/collecteur-sonde ' "$(dpkg-query -W -f='${Conffiles}' collecteur-sonde)"
verifier "utilisateur système collecteur" test "$(id -u collecteur)" -lt 1000
verifier "/var/lib/collecteur à l'utilisateur collecteur" proprietaire /var/lib/collecteur "collecteur:collecteur 750"
for unite in collecteur collecteur-archive collecteur-sonde; do
    verifier "$unite.service activé" \
        lien "/etc/systemd/system/multi-user.target.wants/$unite.service" "/lib/systemd/system/$unite.service"
    documentation=$(sed -n 's|^Documentation=file://||p' "/lib/systemd/system/$unite.service")
    verifier "$unite.service : sa documentation $documentation" test -f "$documentation"
    verifier "$unite.service : systemd-analyze verify" \
        systemd-analyze verify "/lib/systemd/system/$unite.service"
done
verifier "collecteur.service : utilisateur et dossier d'état" \
    contient '^User=collecteur$' "$(grep -E '^(User|StateDirectory|WorkingDirectory)=' /lib/systemd/system/collecteur.service)"
verifier "collecteur.service : options de /etc/default/collecteur" \
    contient '^ExecStart=/usr/bin/collecteur \$COLLECTEUR_OPTIONS$' "$(cat /lib/systemd/system/collecteur.service)"
verifier "collecteur-sonde.service : options de /etc/default/collecteur-sonde" \
    contient '^EnvironmentFile=-/etc/default/collecteur-sonde$' "$(cat /lib/systemd/system/collecteur-sonde.service)"

echo "== Le collecteur et l'agent installés, lancés comme leurs unités"
# With systemd the package started them: they make way for the run below.
if [ -d /run/systemd/system ]; then
    verifier "collecteur.service démarré" systemctl is-active --quiet collecteur
    systemctl stop collecteur collecteur-sonde
fi
port=$((50000 + $$ % 5000))
while [ -n "$(ss -Hlun "sport = :$port")" ]; do
    port=$((port + 1))
done
# The settings as an operator edits them: both files are kept by an upgrade
# or a removal, and go with the purge.
sed -i "s|^COLLECTEUR_OPTIONS=.*|COLLECTEUR_OPTIONS=\"--port=$port\"|" /etc/default/collecteur
sed -i "s|^COLLECTEUR_SONDE_OPTIONS=.*|COLLECTEUR_SONDE_OPTIONS=\"--collecteur=127.0.0.1:$port --libvirt=aucun --intervalle=1 --nom=essai-paquets\"|" \
    /etc/default/collecteur-sonde

# The unit's environment, environment file, user, umask and working
# directory, then its command line, expanded as systemd does; a dynamic user
# is stood for by nobody.
lancer() {
    unite=/lib/systemd/system/$1.service
    (
        cd "$(sed -n 's/^WorkingDirectory=//p' "$unite" | grep . || echo "$temporaire")"
        for affectation in $(sed -n 's/^Environment=//p' "$unite"); do
            export "$affectation"
        done
        set -a
        . "$(sed -n 's/^EnvironmentFile=-//p' "$unite")"
        set +a
        umask "$(sed -n 's/^UMask=//p' "$unite" | grep . || echo 0022)"
        utilisateur=$(sed -n 's/^User=//p' "$unite")
        groupe=$(sed -n 's/^Group=//p' "$unite")
        eval "exec timeout 60 setpriv --reuid=${utilisateur:-nobody} --regid=${groupe:-nogroup} --clear-groups \
              $(sed -n 's/^ExecStart=//p' "$unite")"
    ) >"$temporaire/$1.console" 2>&1 &
}
attendre() {
    for _ in $(seq 150); do
        grep -qs -- "$2" "$temporaire/$1.console" && return 0
        sleep 0.1
    done
    return 1
}
lancer collecteur
pid_collecteur=$!
pids="$pid_collecteur"
verifier "collecteur : écoute sur le port $port" attendre collecteur "\"Ecoute sur le port $port\""
timeout 30 /usr/bin/collecteur-afficheur --nombre=2 >"$temporaire/afficheur.console" 2>&1 &
pid_afficheur=$!
attendre collecteur "Nouvelle connexion" || true
lancer collecteur-sonde
pid_sonde=$!
pids="$pid_collecteur $pid_sonde $pid_afficheur"
verifier "collecteur-afficheur : deux rapports de l'agent relayés" wait "$pid_afficheur"
verifier "collecteur-afficheur : rapports de essai-paquets" grep -q essai-paquets "$temporaire/afficheur.console"
kill -TERM "$pid_sonde"
{ wait "$pid_sonde"; } 2>/dev/null || true
kill -TERM "$pid_collecteur"
verifier "collecteur : arrêt propre sur SIGTERM" wait "$pid_collecteur"
pids=""
verifier "collecteur : rapports reçus de l'agent" attendre collecteur 'Réception de  "127.0.0.1  SeqNb:1"'
sauvegarde=$(ls /var/lib/collecteur/collecteur*.db 2>/dev/null | head -n 1)
verifier "sauvegarde dans /var/lib/collecteur, lisible du groupe collecteur seulement" \
    proprietaire "${sauvegarde:-/absente}" "collecteur:collecteur 640"
verifier "sauvegarde : les rapports de l'agent" \
    test "$(sqlite3 "${sauvegarde:-/absente}" "SELECT count(*) FROM InfosHyperviseurs WHERE name = 'essai-paquets'" 2>&1)" -ge 2
if [ "$echecs" -gt 0 ]; then
    sed 's/^/collecteur: /' "$temporaire/collecteur.console" >&2
    sed 's/^/collecteur-sonde: /' "$temporaire/collecteur-sonde.console" >&2
fi

echo "== Mise à jour"
(cd "$temporaire/revision2" && flock /tmp/apt.lock apt-get install -y -qq ./collecteur_*.deb ./collecteur-sonde_*.deb) \
    >"$temporaire/apt.log" 2>&1 || { cat "$temporaire/apt.log" >&2; exit 1; }
verifier "collecteur mis à jour en révision 2" \
    contient '-2$' "$(dpkg-query -W -f='${Version}' collecteur)"
verifier "/etc/default/collecteur gardé, tel que modifié" grep -q -- "--port=$port" /etc/default/collecteur
verifier "/etc/default/collecteur-sonde gardé, tel que modifié" grep -q -- "--nom=essai-paquets" /etc/default/collecteur-sonde
verifier "sauvegarde gardée" test -f "${sauvegarde:-/absente}"
for unite in collecteur collecteur-sonde; do
    verifier "$unite.service toujours activé" \
        lien "/etc/systemd/system/multi-user.target.wants/$unite.service" "/lib/systemd/system/$unite.service"
done

echo "== Retrait"
flock /tmp/apt.lock apt-get remove -y -qq collecteur collecteur-sonde >/dev/null
for fichier in /usr/bin/collecteur /usr/bin/collecteur-sonde /lib/systemd/system/collecteur.service \
               /lib/systemd/system/collecteur-sonde.service; do
    verifier "$fichier retiré" test ! -e "$fichier"
done
verifier "/etc/default/collecteur gardé, tel que modifié" grep -q -- "--port=$port" /etc/default/collecteur
verifier "/etc/default/collecteur-sonde gardé" test -f /etc/default/collecteur-sonde
verifier "sauvegarde gardée" test -f "${sauvegarde:-/absente}"
verifier "utilisateur collecteur gardé" existe collecteur

echo "== Purge"
flock /tmp/apt.lock apt-get purge -y -qq collecteur collecteur-sonde >/dev/null
verifier "/etc/default/collecteur supprimé" test ! -e /etc/default/collecteur
verifier "/etc/default/collecteur-sonde supprimé" test ! -e /etc/default/collecteur-sonde
verifier "sauvegarde gardée après la purge" test -f "${sauvegarde:-/absente}"
verifier "plus d'activation des unités" rien_sous /etc/systemd/system 'collecteur*'
verifier "plus d'état de deb-systemd-helper" rien_sous /var/lib/systemd/deb-systemd-helper-enabled 'collecteur*'
for paquet in collecteur collecteur-sonde; do
    verifier "$paquet purgé" absent 'installed|config-files' \
        "$(dpkg-query -W -f='${Status}' "$paquet" 2>/dev/null | grep -v not-installed || true)"
done

if [ "$echecs" -gt 0 ]; then
    echo "test-paquets: $echecs vérification(s) en échec" >&2
    exit 1
fi
echo "test-paquets: tout est conforme"
