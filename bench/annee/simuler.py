#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A year left alone, in minutes: the real collector, collecteur-archive and
collecteur-web, with the simulator as a small fleet, all on one clock that
libfaketime runs ACCELERATION times faster, in a folder on a small tmpfs
(root) so that the free-space floor has work to do.

Samples, every real second: the folder's free space, the number of raw
backup files, the resident memory of the collector and of the archive. At
the end, asks the dashboard for each range of its page, for one host and
one VM, and counts the points and their resolution. Prints a Markdown
section on standard output.

    bench/annee/simuler.py --binaires build/release [--jours 365] [--tmpfs 24M]
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

JOUR = 86400
GAMMES = [("1 h", 3600), ("6 h", 6 * 3600), ("24 h", JOUR), ("7 j", 7 * JOUR), ("30 j", 30 * JOUR),
          ("1 an", 365 * JOUR)]


def port_libre(type_socket=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, type_socket) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def memoire(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for ligne in f:
                if ligne.startswith("VmRSS:"):
                    return int(ligne.split()[1]) * 1024
    except OSError:
        pass
    return 0


def libre(dossier):
    s = os.statvfs(dossier)
    return s.f_bavail * s.f_frsize, s.f_blocks * s.f_frsize


def sauvegardes(dossier):
    """Finished backups, in the order they were written."""
    def instant(nom):
        try:
            return os.path.getmtime(os.path.join(dossier, nom))
        except OSError:  # deleted by the archive meanwhile
            return None
    noms = ((instant(n), n) for n in os.listdir(dossier) if n.startswith("collecteur") and n.endswith(".db"))
    return [n for t, n in sorted(x for x in noms if x[0] is not None)]


def mio(octets):
    return "%.1f MiB" % (octets / 1048576)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--binaires", required=True, help="build tree (Release)")
    p.add_argument("--jours", type=int, default=365)
    p.add_argument("--acceleration", type=int, default=28800, help="simulated seconds per real second")
    p.add_argument("--hyperviseurs", type=int, default=3)
    p.add_argument("--vms", type=int, default=2)
    p.add_argument("--intervalle", type=int, default=60, help="simulated seconds between a host's reports")
    p.add_argument("--tmpfs", default="24M", help="size of the folder's tmpfs (root only)")
    p.add_argument("--memoire-max", default="64M")
    a = p.parse_args()

    b = os.path.abspath(a.binaires)
    collecteur = os.path.join(b, "src/app/collecteur")
    archiveur = os.path.join(b, "archive/collecteur-archive")
    web = os.path.join(b, "web/collecteur-web")
    agent = os.path.join(b, "tools/agent/collecteur-agent")

    racine = tempfile.mkdtemp(prefix="collecteur-annee-")
    dossier = os.path.join(racine, "sauvegardes")
    os.mkdir(dossier)
    monte = False
    if os.geteuid() == 0:
        monte = subprocess.call(["mount", "-t", "tmpfs", "-o", "size=" + a.tmpfs, "tmpfs", dossier]) == 0
    archive = os.path.join(dossier, "archive")

    # One faketime wrapper for the collector, the archive and the simulator:
    # its shared memory gives them one start, so one clock; each process
    # preloading libfaketime alone would start its own clock when it starts,
    # hours of simulated time apart. The dashboard runs on the real clock
    # (its HTTP timeouts would otherwise last microseconds) and is only
    # asked for explicit ranges.
    port = port_libre(socket.SOCK_DGRAM)
    port_web = port_libre()
    fifo = os.path.join(racine, "arret")
    os.mkfifo(fifo)
    lanceur = f"""
cd '{dossier}'
'{collecteur}' --port={port} --memoire-max={a.memoire_max} 2>/dev/null & pc=$!; echo $pc > '{racine}/pid-collecteur'
'{archiveur}' --sauvegardes='{dossier}' 2>'{racine}/console.txt' & pa=$!; echo $pa > '{racine}/pid-archive'
'{agent}' --port={port} --hyperviseurs={a.hyperviseurs} --vms={a.vms} --rythme={1.0 / a.intervalle:.6f} \
    --duree={a.jours * JOUR} --silencieux 2>/dev/null
touch '{racine}/fin'
read x < '{fifo}'
kill -TERM $pc $pa
wait $pc; echo $? > '{racine}/rc-collecteur'
wait $pa; echo $? > '{racine}/rc-archive'
"""
    simulation = subprocess.Popen(["faketime", "-f", "-%dd x%d" % (a.jours, a.acceleration), "sh", "-c", lanceur],
                                  env=dict(os.environ, TZ="UTC"))
    web_processus = subprocess.Popen(
        [web, "--ecoute=127.0.0.1:%d" % port_web, "--sauvegardes=" + dossier, "--archive=" + archive,
         "--collecteur=127.0.0.1:56000"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=dict(os.environ, TZ="UTC"))

    def pid(nom):
        try:
            with open(os.path.join(racine, "pid-" + nom)) as f:
                return int(f.read())
        except (OSError, ValueError):
            return 0

    echantillons = []
    debut = time.monotonic()
    while not os.path.exists(os.path.join(racine, "fin")):
        time.sleep(1)
        l, total = libre(dossier)
        echantillons.append((time.monotonic() - debut, l, total, len(sauvegardes(dossier)),
                             memoire(pid("collecteur")), memoire(pid("archive"))))
    duree = time.monotonic() - debut

    try:
        # The newest report's time: the end of the simulated year. Once the
        # simulator stops, the collector's hourly backups are empty.
        import sqlite3
        hote = None
        for nom in reversed(sauvegardes(dossier)):
            with sqlite3.connect("file:%s?mode=ro" % os.path.join(dossier, nom), uri=True) as base:
                hote, fin = base.execute("SELECT name, MAX(time) FROM InfosHyperviseurs").fetchone()
                if fin is None:
                    continue
                vm = base.execute("SELECT v.name FROM InfosVMs v JOIN InfosHyperviseurs h ON h.id = v.idinfos "
                                  "WHERE h.name = ? LIMIT 1", (hote,)).fetchone()[0]
                break
        gammes = []
        for nom, largeur in GAMMES:
            for cible in ("", vm):
                url = "http://127.0.0.1:%d/api/historique?hyperviseur=%s&depuis=%d&jusqua=%d" % (
                    port_web, hote, fin - largeur, fin)
                if cible:
                    url += "&vm=" + cible
                t0 = time.monotonic()
                try:
                    with urllib.request.urlopen(url, timeout=60) as r:
                        corps = json.loads(r.read())
                    ecoule = time.monotonic() - t0
                except Exception as e:  # noqa: BLE001 - reported as the range's result
                    gammes.append((nom, cible, "erreur : %s" % e, "", ""))
                    continue
                serie = corps.get("hyperviseur", {}) if not cible else next(
                    (v for v in corps.get("vms", []) if v.get("nom") == cible), {})
                points = sum(1 for x in serie.get("cpu", []) if x is not None)
                gammes.append((nom, cible or hote, points, corps.get("pas", "?"), "%.0f ms" % (ecoule * 1000)))

    finally:
        with open(fifo, "w") as f:
            f.write("fin\n")
    simulation.wait(timeout=300)
    web_processus.send_signal(signal.SIGTERM)
    codes = {"web": web_processus.wait(timeout=60)}
    for nom in ("collecteur", "archive"):
        with open(os.path.join(racine, "rc-" + nom)) as f:
            codes[nom] = int(f.read())
    with open(os.path.join(racine, "console.txt")) as f:
        suppressions = [l.strip() for l in f if "supprimées" in l]

    mini_libre = min(e[1] for e in echantillons)
    total = echantillons[-1][2]
    print("## A year left alone (%d simulated days in %.0f s)\n" % (a.jours, duree))
    print("%d hosts x %d VMs, a report every %d s (simulated), clock x%d; folder: %s; collector "
          "`--memoire-max=%s`.\n" % (a.hyperviseurs, a.vms, a.intervalle, a.acceleration,
                                     ("tmpfs of " + a.tmpfs) if monte else "a plain folder", a.memoire_max))
    print("| | at most | at the end |")
    print("|---|---|---|")
    print("| folder used | %s of %s (floor: 10 %% free) | %s |" % (
        mio(total - mini_libre), mio(total), mio(echantillons[-1][2] - echantillons[-1][1])))
    print("| raw backup files | %d | %d |" % (max(e[3] for e in echantillons), echantillons[-1][3]))
    print("| collector resident memory | %s | %s |" % (mio(max(e[4] for e in echantillons)), mio(echantillons[-1][4])))
    print("| archive resident memory | %s | %s |" % (mio(max(e[5] for e in echantillons)), mio(echantillons[-1][5])))
    archive_octets = sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(archive) for f in fs)
    print("\nArchive: %s. Exit status: %s. Deletion lines: %d, the last: `%s`.\n" % (
        mio(archive_octets), ", ".join("%s %d" % c for c in codes.items()), len(suppressions),
        suppressions[-1] if suppressions else "none"))
    print("| range | series | points | step (s) | query |")
    print("|---|---|---|---|---|")
    for g in gammes:
        print("| %s | %s | %s | %s | %s |" % g)

    if monte:
        subprocess.call(["umount", "--lazy", dossier])
    shutil.rmtree(racine, ignore_errors=True)
    return 0 if all(c == 0 for c in codes.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
