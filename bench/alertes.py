#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark of collecteur-web's alerting (see bench/README.md, section Alerts).

The live load of bench/web.py (a stand-in collector relaying one report per
second for each of 1,000 hypervisors with 20 VMs), without pages, twice in
the same run: once with every rule turned off (the baseline), once with the
stock rules and a webhook receiver on the loopback. Measures:
1. the CPU that rule evaluation adds (share of one core: with rules minus
   without), and the CPU per report;
2. the delay from the report that completes a condition (a disk at 97 %,
   a rule with no duration) to its notification reaching the receiver, and
   from the report that ends it to its resolution, over 20 hosts.
Prints a Markdown section on standard output."""

import argparse
import http.server
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web as banc  # noqa: E402

ESSAIS = 20
TOUTES = ["HyperviseurCpu", "HyperviseurRam", "HyperviseurDisque", "HyperviseurTemperatureCpu",
          "HyperviseurTemperatureCarteMere", "HyperviseurInjoignable", "VmArretee", "VmCpu"]


class Collecteur(banc.Collecteur):
    """The stand-in collector, with some hosts' disk set to a chosen value;
    the time the first report with a new value goes is noted."""

    def __init__(self, port):
        super().__init__(port)
        self.disques = {}
        self.guette = None  # host whose next report with its current value is timed
        self.envoi = None

    def run(self):
        client, _ = self.serveur.accept()
        debut = time.monotonic()
        seconde = 0
        while not self.arret:
            t = str(int(time.time()))
            for h in range(0, banc.HOTES, 100):
                trames = []
                for i in range(h, h + 100):
                    disque = self.disques.get(i)
                    if disque is None:
                        trames.append(banc.trame(t.join(self.modeles[i])))
                    else:
                        r = json.loads(t.join(self.modeles[i]))
                        r["disk"] = disque
                        trames.append(banc.trame(json.dumps(r)))
                guette = self.guette
                client.sendall(b"".join(trames))
                if guette is not None and h <= guette < h + 100:
                    self.envoi = time.time()
                    self.guette = None
                attente = debut + seconde + (h + 100) / banc.HOTES - time.monotonic()
                if attente > 0:
                    time.sleep(attente)
            seconde += 1


class Recepteur(http.server.BaseHTTPRequestHandler):
    recus = []

    def do_POST(self):
        corps = self.rfile.read(int(self.headers["Content-Length"]))
        arrivee = time.time()
        for alerte in json.loads(corps)["alerts"]:
            Recepteur.recus.append((arrivee, alerte["status"], alerte["labels"]["alertname"],
                                    alerte["labels"]["hyperviseur"]))
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


def attendre(condition, delai):
    limite = time.monotonic() + delai
    while time.monotonic() < limite:
        resultat = condition()
        if resultat:
            return resultat
        time.sleep(0.005)
    raise RuntimeError("rien reçu en %d s" % delai)


def charge(binaire, dossier, options, duree, essais=None):
    """Runs collecteur-web under the live load; returns its CPU share over
    `duree` seconds after a warm-up, then runs `essais` if given."""
    port_collecteur, port_web = banc.port_libre(), banc.port_libre()
    collecteur = Collecteur(port_collecteur)
    collecteur.start()
    web = subprocess.Popen([binaire, "--collecteur=127.0.0.1:%d" % port_collecteur,
                            "--ecoute=127.0.0.1:%d" % port_web, "--sauvegardes=" + dossier] + options,
                           stderr=subprocess.DEVNULL)
    try:
        time.sleep(15)
        cpu0, _ = banc.cpu_et_memoire(web.pid)
        t0 = time.monotonic()
        time.sleep(duree)
        cpu1, rss = banc.cpu_et_memoire(web.pid)
        part = (cpu1 - cpu0) / (time.monotonic() - t0)
        mesures = essais(collecteur) if essais else None
    finally:
        collecteur.arret = True
        web.terminate()
        web.wait(30)
    return part, rss, mesures


def delais(collecteur):
    declenchements, resolutions = [], []
    for k in range(ESSAIS):
        h = 7 + k * 47
        nom = "hv-%04d" % h
        for valeur, statut, liste in ((97, "firing", declenchements), (None, "resolved", resolutions)):
            collecteur.envoi = None
            if valeur is None:
                collecteur.disques.pop(h)
            else:
                collecteur.disques[h] = valeur
            collecteur.guette = h
            arrivee = attendre(lambda: next((a for a, s, n, x in Recepteur.recus
                                             if s == statut and n == "HyperviseurDisque" and x == nom), None), 10)
            envoi = attendre(lambda: collecteur.envoi, 5)
            liste.append((arrivee - envoi) * 1000)
    return declenchements, resolutions


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--web", required=True)
    analyse.add_argument("--duree", type=int, default=30)
    args = analyse.parse_args()

    recepteur = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recepteur)
    threading.Thread(target=recepteur.serve_forever, daemon=True).start()
    charge_debut = os.getloadavg()[0]
    with tempfile.TemporaryDirectory() as dossier:
        sans = os.path.join(dossier, "aucune.regles")
        with open(sans, "w") as f:
            f.write("".join("desactiver %s\n" % r for r in TOUTES))
        sans_part, sans_rss, _ = charge(args.web, dossier, ["--regles=" + sans], args.duree)
        avec_part, avec_rss, (declenchements, resolutions) = charge(
            args.web, dossier, ["--webhook=http://127.0.0.1:%d/" % recepteur.server_port], args.duree, delais)
    recepteur.shutdown()

    rapports = banc.HOTES
    print("## Alerts (collecteur-web)\n")
    print("Measured by `bench/web.sh` (`bench/alertes.py`) on %s (%d cores), Release build: the live load of the "
          "section above (%d hypervisors x %d VMs, one report per host per second, stand-in collector in Python on the "
          "same machine), no page; the same load twice in the same run, every rule off, then the stock rules with a "
          "webhook receiver on the loopback (Python's http.server).\n"
          % (datetime.now().strftime("%Y-%m-%d"), os.cpu_count(), banc.HOTES, banc.VMS))
    print("| Measure | Result | Target |")
    print("|---|---|---|")
    print("| CPU of collecteur-web, every rule off (baseline) | %.1f %% of one core (%.0f µs per report) | |"
          % (sans_part * 100, sans_part / rapports * 1e6))
    print("| CPU of collecteur-web, stock rules | %.1f %% of one core (%.0f µs per report) | |"
          % (avec_part * 100, avec_part / rapports * 1e6))
    print("| CPU that rule evaluation adds | %.1f %% of one core | < 5 %% |" % ((avec_part - sans_part) * 100))
    print("| Resident memory, rules off / stock rules | %.0f / %.0f MiB | |" % (sans_rss / 1024, avec_rss / 1024))
    for titre, valeurs in (("Report that completes a condition -> firing notification at the receiver", declenchements),
                           ("Report that ends it -> resolution at the receiver", resolutions)):
        valeurs.sort()
        print("| %s, median / max of %d | %.0f / %.0f ms | < 1 s |"
              % (titre, len(valeurs), statistics.median(valeurs), valeurs[-1]))
    print("\nThe delay runs from the moment the stand-in collector wrote the report's frame to the moment the "
          "receiver read the POST: collecteur-web's reading of the frame, the rules, and the HTTP request.")
    print("Load average of the machine (other programs included): %.1f at the start, %.1f at the end."
          % (charge_debut, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
