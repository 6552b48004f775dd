#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark of collecteur-web (see bench/README.md, section collecteur-web).

1. Live load: a stand-in collector relays one report per second for each of
   1,000 hypervisors with 20 VMs; 10 pages hold the live stream open. Measures
   collecteur-web's CPU (share of one core) and resident memory, the bytes per
   second each page receives, and how far behind a page is (reception of a
   summary by the page minus reception of the report by collecteur-web).
2. One /metrics scrape with the 20,000 VM series of that fleet.
3. A 24-hour history query for one host over 24 hourly backup files of the
   whole fleet (one report per host every 10 s, the agents' default): its
   time and the CPU time it takes. The files take minutes to make: with
   --historique=DOSSIER they are kept there and reused by the next run.
Prints a Markdown section on standard output."""

import argparse
import json
import multiprocessing
import os
import re
import selectors
import socket
import sqlite3
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from datetime import datetime, timedelta

HOTES, VMS, PAGES = 1000, 20, 10


def port_libre():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def trame(texte):
    octets = texte.encode("latin-1")
    return struct.pack(">iB", len(octets), 1) + octets


def rapport(h, t):
    return json.dumps({
        "name": "hv-%04d" % h, "time": t, "cpu": 20 + h % 70, "ram": 40.5, "disk": 55.25, "network": 12.5,
        "cputemp": 51, "mbtemp": 38,
        "vms": [{"name": "vm-%04d-%02d" % (h, v), "uuid": "00000000-0000-0000-%04d-%012d" % (h, v), "state": 1,
                 "cpu": 12.5, "ram": 1048576, "maxram": 2097152, "network": 0.75} for v in range(VMS)]})


class Collecteur(threading.Thread):
    """Sends every host's report once per second, spread over the second. The
    reports are made once, only their time changes, so that this thread
    takes little of the machine that collecteur-web and the pages share."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.serveur = socket.create_server(("127.0.0.1", port))
        self.arret = False
        self.mesure = False
        self.retards = []  # how late each hundred reports went, ms: late ones come in a burst
        self.modeles = [rapport(h, 1234567890).split("1234567890") for h in range(HOTES)]

    def run(self):
        client, _ = self.serveur.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        debut = time.monotonic()
        seconde = 0
        while not self.arret:
            t = str(int(time.time()))
            for h in range(0, HOTES, 100):
                if self.mesure:
                    self.retards.append((time.monotonic() - debut - seconde - h / HOTES) * 1000)
                client.sendall(b"".join(trame(t.join(self.modeles[i])) for i in range(h, h + 100)))
                attente = debut + seconde + (h + 100) / HOTES - time.monotonic()
                if attente > 0:
                    time.sleep(attente)
            seconde += 1


def pages(port, nombre, echauffement, duree, resultats):
    """The live pages, in a process of their own so that they do not wait on
    the stand-in collector for Python's interpreter lock: one thread, one
    poll over every page's connection. Of each summary only its reception
    time ("recu", ms) is read, without a full JSON parse. Measures for
    `duree` seconds after `echauffement`, then puts (bytes per page, delays
    in ms) in `resultats`."""
    prises = []
    for _ in range(nombre):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(b"GET /api/flux HTTP/1.1\r\nHost: x\r\n\r\n")
        s.setblocking(False)
        prises.append(s)
    etats = {s: {"brut": b"", "flux": b"", "entetes": False, "octets": 0} for s in prises}
    selecteur = selectors.DefaultSelector()
    for s in prises:
        selecteur.register(s, selectors.EVENT_READ)
    recu = re.compile(rb'"recu":(\d+)')
    publie = re.compile(rb'"maintenant":(\d+)')
    retards = []
    attentes = []
    debut_mesure = time.monotonic() + echauffement
    fin_mesure = debut_mesure + duree
    while time.monotonic() < fin_mesure:
        for cle, _ in selecteur.select(0.5):
            s, etat = cle.fileobj, etats[cle.fileobj]
            morceau = s.recv(1 << 20)
            arrivee = time.time() * 1000
            mesure = time.monotonic() >= debut_mesure
            if not morceau:
                selecteur.unregister(s)
                continue
            if mesure:
                etat["octets"] += len(morceau)
            brut = etat["brut"] + morceau
            if not etat["entetes"]:
                if b"\r\n\r\n" not in brut:
                    etat["brut"] = brut
                    continue
                brut = brut.split(b"\r\n\r\n", 1)[1]
                etat["entetes"] = True
            # The stream comes in HTTP chunks: size in hex, CRLF, bytes, CRLF.
            morceaux = []
            while True:
                fin_taille = brut.find(b"\r\n")
                if fin_taille < 0:
                    break
                taille = int(brut[:fin_taille], 16)
                if len(brut) < fin_taille + 2 + taille + 2:
                    break
                morceaux.append(brut[fin_taille + 2:fin_taille + 2 + taille])
                brut = brut[fin_taille + 4 + taille:]
            etat["brut"] = brut
            flux = etat["flux"] + b"".join(morceaux)
            fin = flux.rfind(b"\n\n")
            if fin < 0:
                etat["flux"] = flux
                continue
            etat["flux"] = flux[fin + 2:]
            if mesure:
                for evenement in flux[:fin].split(b"\n\n"):
                    if evenement.startswith(b"event: maj"):
                        receptions = [int(r) for r in recu.findall(evenement)]
                        publication = int(publie.search(evenement).group(1))
                        retards.extend(arrivee - r for r in receptions)
                        attentes.extend(publication - r for r in receptions)
    resultats.put(([etats[s]["octets"] for s in prises], retards, attentes))


def cpu_et_memoire(pid):
    with open("/proc/%d/stat" % pid) as f:
        champs = f.read().rsplit(")", 1)[1].split()
    ticks = int(champs[11]) + int(champs[12])
    with open("/proc/%d/status" % pid) as f:
        rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
    return ticks / os.sysconf("SC_CLK_TCK"), rss


def obtenir(url):
    debut = time.perf_counter()
    with urllib.request.urlopen(url, timeout=60) as r:
        corps = r.read()
    return time.perf_counter() - debut, corps


def fichiers_historique(dossier, maintenant):
    """One fleet-hour file, then 23 more made from it by SQL, one hour apart."""
    modele = os.path.join(dossier, "modele.db")
    base = sqlite3.connect(modele)
    base.executescript("""
        CREATE TABLE InfosHyperviseurs (id INTEGER, name VARCHAR(500) NOT NULL, time INTEGER NOT NULL,
            cputemp FLOAT, mbtemp FLOAT, cpu FLOAT, ram FLOAT, disk FLOAT, network FLOAT, PRIMARY KEY(id));
        CREATE TABLE InfosVMs (id INTEGER, idinfos INTEGER NOT NULL, name VARCHAR(500) NOT NULL, uuid VARCHAR(50),
            state SMALLINT, cpu FLOAT, ram INTEGER, maxram INTEGER, network FLOAT, PRIMARY KEY(id),
            FOREIGN KEY(idinfos) REFERENCES InfosHyperviseurs(id) ON DELETE CASCADE);""")
    base.execute("""WITH RECURSIVE r(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM r WHERE i < 360 * 1000 - 1)
        INSERT INTO InfosHyperviseurs SELECT i + 1, printf('hv-%04d', i % 1000), 0 + (i / 1000) * 10,
            51, 38, 20 + (i % 70), 40.5, 55.25, 12.5 FROM r""")
    base.execute("""WITH RECURSIVE v(j) AS (SELECT 0 UNION ALL SELECT j + 1 FROM v WHERE j < 19)
        INSERT INTO InfosVMs SELECT NULL, h.id, printf('vm-%s-%02d', h.name, j), printf('uuid-%s-%02d', h.name, j),
            1, 12.5, 1048576, 2097152, 0.75 FROM InfosHyperviseurs h, v ORDER BY h.id, j""")
    base.commit()
    base.close()
    for heure in range(24):
        fin = maintenant - heure * 3600
        nom = datetime.fromtimestamp(fin).strftime("collecteur%d-%m-%Y_%H-%M-%S.db")
        chemin = os.path.join(dossier, nom)
        base = sqlite3.connect(modele)
        base.execute("ATTACH DATABASE ? AS f", (chemin,))
        base.executescript("""
            CREATE TABLE f.InfosHyperviseurs AS SELECT * FROM main.InfosHyperviseurs WHERE 0;
            CREATE TABLE f.InfosVMs AS SELECT * FROM main.InfosVMs WHERE 0;""")
        base.execute("INSERT INTO f.InfosHyperviseurs SELECT id, name, time + ?, cputemp, mbtemp, cpu, ram, disk, network "
                     "FROM main.InfosHyperviseurs", (fin - 3600,))
        base.executescript("""
            INSERT INTO f.InfosVMs SELECT * FROM main.InfosVMs;
            CREATE INDEX f.InfosName ON InfosHyperviseurs(name);
            CREATE INDEX f.InfosTime ON InfosHyperviseurs(time);
            CREATE INDEX f.VMsIdinfos ON InfosVMs(idinfos);
            CREATE INDEX f.VMsName ON InfosVMs(name);""")
        base.commit()
        base.close()
    os.remove(modele)


def historique_pret(dossier):
    """The time stamp of the newest of 24 backup files already made in
    `dossier` by an earlier run, or None."""
    noms = sorted((f for f in os.listdir(dossier) if f.startswith("collecteur") and f.endswith(".db")),
                  key=lambda f: datetime.strptime(f, "collecteur%d-%m-%Y_%H-%M-%S.db"))
    if len(noms) != 24:
        return None
    return int(datetime.strptime(noms[-1], "collecteur%d-%m-%Y_%H-%M-%S.db").timestamp())


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--web", required=True)
    analyse.add_argument("--duree", type=int, default=30)
    analyse.add_argument("--historique", help="folder that keeps the 24 backup files from one run to the next "
                                              "(they take minutes to make); a temporary one by default")
    args = analyse.parse_args()

    charge_debut = os.getloadavg()[0]
    with tempfile.TemporaryDirectory() as temporaire:
        dossier = args.historique or temporaire
        os.makedirs(dossier, exist_ok=True)
        maintenant = historique_pret(dossier)
        generation = None
        if maintenant is None:
            for f in os.listdir(dossier):
                if f.startswith("collecteur") or f == "modele.db":
                    os.remove(os.path.join(dossier, f))
            maintenant = int(time.time())
            debut_generation = time.monotonic()
            fichiers_historique(dossier, maintenant)
            generation = time.monotonic() - debut_generation
        taille = sum(os.path.getsize(os.path.join(dossier, f)) for f in os.listdir(dossier))

        port_collecteur, port_web = port_libre(), port_libre()
        collecteur = Collecteur(port_collecteur)
        collecteur.start()
        web = subprocess.Popen([args.web, "--collecteur=127.0.0.1:%d" % port_collecteur,
                                "--ecoute=127.0.0.1:%d" % port_web, "--sauvegardes=" + dossier],
                               stderr=subprocess.DEVNULL)
        try:
            time.sleep(1)
            echauffement = 10
            resultats = multiprocessing.Queue()
            lecteurs = multiprocessing.Process(target=pages, args=(port_web, PAGES, echauffement, args.duree, resultats))
            lecteurs.start()
            time.sleep(echauffement)
            collecteur.mesure = True
            cpu0, _ = cpu_et_memoire(web.pid)
            t0 = time.monotonic()
            time.sleep(args.duree)
            cpu1, rss = cpu_et_memoire(web.pid)
            ecoule = time.monotonic() - t0
            collecteur.mesure = False
            envoi = sorted(collecteur.retards)
            part_cpu = (cpu1 - cpu0) / ecoule
            octets, retards, attentes = resultats.get(timeout=60)
            lecteurs.join(30)
            debits = [o / ecoule for o in octets]
            retards.sort()
            attentes.sort()

            base = "http://127.0.0.1:%d" % port_web
            scrapes = []
            for _ in range(5):
                duree, metriques = obtenir(base + "/metrics")
                scrapes.append(duree)
            series_vm = sum(1 for l in metriques.split(b"\n") if l.startswith(b"collecteur_vm_cpu_ratio{"))
            collecteur.arret = True

            # The live load stopped first, so that the CPU time is the queries'.
            time.sleep(2)
            urls = ["%s/api/historique?hyperviseur=hv-%04d&depuis=%d&jusqua=%d" % (base, 100 + h, maintenant - 86400,
                                                                                  maintenant) for h in range(5)]
            # First with the page cache as the machine left it, then again
            # with the same pages in it.
            premiers = [obtenir(url)[0] for url in urls]
            historiques = []
            cpu_historique, _ = cpu_et_memoire(web.pid)
            for url in urls:
                duree, corps = obtenir(url)
                historiques.append(duree)
            cpu_historique = (cpu_et_memoire(web.pid)[0] - cpu_historique) / 5
            reponse = json.loads(corps)
        finally:
            web.terminate()
            web.wait(30)

    def ms(x):
        return "%.0f ms" % (x * 1000)

    print("## collecteur-web\n")
    print("Measured by `bench/web.sh` on %s (%d cores), Release build, stand-in collector and pages in Python on the "
          "same machine (the pages in a process of their own, reading only each summary's reception time).\n" % (datetime.now().strftime("%Y-%m-%d"), os.cpu_count()))
    print("| Measure | Result | Target |")
    print("|---|---|---|")
    print("| CPU of collecteur-web, %d hypervisors x %d VMs, 1 report/host/s, %d live pages | %.1f %% of one core "
          "| < 15 %% |" % (HOTES, VMS, PAGES, part_cpu * 100))
    print("| Resident memory of collecteur-web (15-minute window filling) | %.0f MiB | |" % (rss / 1024))
    print("| Bytes per second sent to each page | %.0f kB/s (min %.0f, max %.0f) | |"
          % (statistics.mean(debits) / 1000, min(debits) / 1000, max(debits) / 1000))
    print("| How far behind a page is (report received -> summary at the page), median / p99 / max | %.0f / %.0f / %.0f ms "
          "| < 1 s |" % (statistics.median(retards), retards[int(len(retards) * 0.99)], retards[-1]))
    print("| Of which in collecteur-web (report received -> its summary published), median / p99 / max "
          "| %.0f / %.0f / %.0f ms | |" % (statistics.median(attentes), attentes[int(len(attentes) * 0.99)], attentes[-1]))
    print("| How late the stand-in collector sent, median / p99 / max (a late second comes in a burst, whose "
          "hosts then wait for the end of their second) | %.0f / %.0f / %.0f ms | |"
          % (statistics.median(envoi), envoi[int(len(envoi) * 0.99)], envoi[-1]))
    print("| One /metrics scrape, %d VM series (%d kB), best / median of 5 | %s / %s | < 100 ms |"
          % (series_vm, len(metriques) // 1000, ms(min(scrapes)), ms(statistics.median(scrapes))))
    print("| 24-hour history of one host over 24 fleet-hour files (%d points, %d VMs, %d kB), best / median of 5 (their second run) "
          "| %s / %s | < 300 ms |" % (len(reponse["hyperviseur"]["t"]), len(reponse["vms"]), len(corps) // 1000,
                                     ms(min(historiques)), ms(statistics.median(historiques))))
    print("| The same five queries first, with the page cache as the machine left it, best / median | %s / %s | |"
          % (ms(min(premiers)), ms(statistics.median(premiers))))
    print("| CPU time of collecteur-web per history query (all its threads) | %s | |" % ms(cpu_historique))
    print("\nThe 24 backup files: %d hosts x 360 reports (one per 10 s) x %d VMs each, %.0f MB in all, %s; "
          "the query reads %d files." % (HOTES, VMS, taille / 1e6,
                                         "made in %.0f s" % generation if generation is not None
                                         else "made by an earlier run", reponse["fichiers"]))
    print("Load average of the machine (other programs included): %.1f at the start, %.1f at the end."
          % (charge_debut, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
