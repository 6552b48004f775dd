#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark of collecteur-web's history (bench/README.md, section History
over any range).

One host with 20 VMs: a year and more of it in the long-term archive, made
by the real collecteur-archive from daily backup files (a report a minute);
the last 8 days in hourly raw files (a report every 10 s, the agents'
default), as collecteur-archive --brut=8j leaves them; the hour in progress
in the journal of a real collector, sent to it over UDP. Then
/api/historique for 30 days and for a year (and 7 days, the raw files'
case, with and without the VMs): the median of several requests after one to warm up, their CPU
time in collecteur-web, the points and sources of the answer. The files
take a few minutes to make: with --garder=DOSSIER they are kept there and
reused by a next run within the same hour. Prints a Markdown section on
standard output."""

import argparse
import importlib.util
import json
import glob
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

ICI = os.path.dirname(os.path.abspath(__file__))
VMS = 20
JOUR = 86400
REQUETES = 7


def generateur():
    chargement = importlib.util.spec_from_file_location("generer", os.path.join(ICI, "..", "archive", "generer-sauvegarde.py"))
    module = importlib.util.module_from_spec(chargement)
    chargement.loader.exec_module(module)
    return module


def port_libre(genre=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, genre) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def attendre_port(port, delai=20):
    limite = time.monotonic() + delai
    while time.monotonic() < limite:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("port %d fermé" % port)


def cpu(pid):
    with open("/proc/%d/stat" % pid) as f:
        champs = f.read().rsplit(")", 1)[1].split()
    return (int(champs[11]) + int(champs[12])) / os.sysconf("SC_CLK_TCK")


def preparer(dossier, archive_binaire, heure):
    """The backup files and the archive, unless a previous run left them."""
    marque = os.path.join(dossier, "banc-historique.json")
    if os.path.exists(marque):
        with open(marque) as f:
            etat = json.load(f)
        if etat["heure"] == heure:
            return etat
    for chemin in glob.glob(os.path.join(dossier, "collecteur*")) + [marque]:
        if os.path.isfile(chemin):
            os.remove(chemin)
    shutil.rmtree(os.path.join(dossier, "archive"), ignore_errors=True)
    g = generateur()
    debut = time.monotonic()
    fin_jours = heure - 8 * JOUR
    for j in range(372):
        g.ecrire(dossier, fin_jours - j * JOUR, hyperviseurs=1, vms=VMS, rapports=1440, intervalle=60)
    for k in range(8 * 24):
        g.ecrire(dossier, heure - k * 3600, hyperviseurs=1, vms=VMS, rapports=360, intervalle=10)
    ecrits = time.monotonic() - debut
    debut = time.monotonic()
    subprocess.run([archive_binaire, "--une-fois", "--sauvegardes=" + dossier, "--brut=8j", "--espace-libre=0"],
                   check=True, stderr=subprocess.DEVNULL)
    etat = {"heure": heure, "ecriture": ecrits, "archivage": time.monotonic() - debut}
    with open(marque, "w") as f:
        json.dump(etat, f)
    return etat


def rapport(t):
    vms = [{"name": "vm-1-%d" % (v + 1), "uuid": "00000000-0000-4000-8000-%012d" % v, "state": 1, "cpu": 12.5,
            "ram": 1048576, "maxram": 4194304, "network": 0.75} for v in range(VMS)]
    return json.dumps({"name": "hv-lab-0001", "time": t, "cpu": 42.5, "ram": 61.0, "disk": 50.0, "network": 120.25,
                       "cputemp": 52.0, "mbtemp": 37.5, "vms": vms})


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--web", required=True)
    analyse.add_argument("--archive", required=True)
    analyse.add_argument("--collecteur", required=True)
    analyse.add_argument("--garder", help="folder that keeps the files from one run to the next")
    args = analyse.parse_args()

    with tempfile.TemporaryDirectory() as temporaire:
        dossier = args.garder or temporaire
        os.makedirs(dossier, exist_ok=True)
        maintenant = int(time.time())
        etat = preparer(dossier, args.archive, maintenant // 3600 * 3600)
        heure = etat["heure"]
        maintenant = int(time.time())

        # The hour in progress: what the collector received since the last backup file, in its journal.
        fichiers_avant = set(glob.glob(os.path.join(dossier, "collecteur*")))
        port_udp = port_libre(socket.SOCK_DGRAM)
        journal = os.path.join(temporaire, "collecteur.log")
        collecteur = subprocess.Popen([args.collecteur, "--port=%d" % port_udp], cwd=dossier,
                                      stderr=open(journal, "wb"))
        web = None
        try:
            attendre_port(56000)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                for n, t in enumerate(range(heure + 10, maintenant, 10)):
                    s.sendto(struct.pack(">I", n + 1) + rapport(t).encode("latin-1"), ("127.0.0.1", port_udp))
                    time.sleep(0.001)
            rapports_journal = len(range(heure + 10, maintenant, 10))
            time.sleep(1.5)

            port_web = port_libre()
            web = subprocess.Popen([args.web, "--collecteur=127.0.0.1:%d" % port_libre(),
                                    "--ecoute=127.0.0.1:%d" % port_web, "--sauvegardes=" + dossier],
                                   stderr=subprocess.DEVNULL)
            attendre_port(port_web)
            lignes = []
            for nom, duree, suite in (("30 days", 30 * JOUR, ""), ("1 year", 365 * JOUR, ""),
                                      ("7 days", 7 * JOUR, ""), ("7 days, the host's page (`vms=aucune`)", 7 * JOUR,
                                                                 "&vms=aucune")):
                url = "http://127.0.0.1:%d/api/historique?hyperviseur=hv-lab-0001&depuis=%d&jusqua=%d%s" % (
                    port_web, maintenant - duree, maintenant, suite)
                with urllib.request.urlopen(url, timeout=60) as r:
                    corps = r.read()
                reponse = json.loads(corps)
                durees = []
                avant = cpu(web.pid)
                for _ in range(REQUETES):
                    debut = time.perf_counter()
                    with urllib.request.urlopen(url, timeout=60) as r:
                        r.read()
                    durees.append(time.perf_counter() - debut)
                cpu_requete = (cpu(web.pid) - avant) / REQUETES
                sources = ", ".join("%s %s s" % (s["type"], s["resolution"]) for s in reponse["sources"])
                lignes.append((nom, statistics.median(durees), min(durees), max(durees), cpu_requete,
                               len(reponse["hyperviseur"]["t"]), len(reponse["vms"]), len(corps), sources))
        finally:
            for p in (web, collecteur):
                if p is not None and p.poll() is None:
                    p.send_signal(signal.SIGTERM)
                    p.wait(60)
            # The collector's last backup holds the hour in progress, which a next run sends again.
            for chemin in set(glob.glob(os.path.join(dossier, "collecteur*"))) - fichiers_avant:
                os.remove(chemin)

    def ms(x):
        return "%.0f ms" % (1000 * x)

    print("## History over any range")
    print()
    print("Measured by `bench/historique/mesurer.sh` on %s (%d cores), Release build, Qt 5. One host with %d VMs: "
          "372 days in daily backup files (a report a minute) rolled into the archive by the real "
          "`collecteur-archive --brut=8j`, which deleted them; the last 8 days in hourly raw files (a report every "
          "10 s); the hour in progress (%d reports) in the journal of a real collector. Each range: one request to "
          "warm up, then %d; the time is the client's, request to last byte, on the loopback."
          % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(), VMS, rapports_journal, REQUETES))
    print()
    print("| Range | median | best / worst | CPU per request | points per series | VMs | JSON | sources (resolution) | target |")
    print("|---|---|---|---|---|---|---|---|---|")
    for nom, mediane, meilleur, pire, cpu_requete, points, vms, octets, sources in lignes:
        cible = "< 300 ms: %s" % ("met" if mediane < 0.3 else "missed") if not nom.startswith("7 days") else ""
        print("| %s | %s | %s / %s | %s | %d | %d | %d kB | %s | %s |" % (
            nom, ms(mediane), ms(meilleur), ms(pire), ms(cpu_requete), points, vms, octets // 1000, sources, cible))
    print()
    print("Making the files: %.0f s to write them, %.0f s for collecteur-archive to roll them (%s)."
          % (etat["ecriture"], etat["archivage"], "this run" if not args.garder else "the run that made them"))
    charge = os.getloadavg()
    print("Load average of the machine at the end: %.2f / %.2f / %.2f." % charge)


if __name__ == "__main__":
    main()
