#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures the hypervisor agent, collecteur-sonde: CPU time per report and
resident memory, with libvirt's in-process test driver holding many domains.

Started by bench/sonde.sh, which builds the agent first. Standard library only.
Writes its own section of the results file, leaving the other sections as they
are (bench/banc.py keeps this one in turn).
"""

import argparse
import datetime
import os
import platform
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import resultats

TITRE = "## Hypervisor agent (collecteur-sonde)"


def journal(message):
    print(f"[{datetime.datetime.now().strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def noeud(domaines):
    """A test-driver node: running domains with one interface each, as on a busy host."""
    lignes = ["<node>"]
    for i in range(domaines):
        lignes.append(
            f"<domain type='test'><name>vm-{i:03d}-web</name>"
            f"<uuid>6f1c2a4e-5b3d-4e8f-9a7c-{i:012d}</uuid>"
            "<memory unit='KiB'>4194304</memory><currentMemory unit='KiB'>2097152</currentMemory>"
            "<vcpu>4</vcpu><os><type>hvm</type></os>"
            f"<devices><interface type='ethernet'><target dev='vnet{i}'/></interface></devices></domain>")
    lignes.append("</node>")
    return "\n".join(lignes) + "\n"


def temps_cpu_ns(pid):
    """CPU time of every thread of the process, in nanoseconds (scheduler statistics)."""
    total = 0
    for tache in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{tache}/schedstat") as fichier:
            total += int(fichier.read().split()[0])
    return total


def memoire(pid):
    valeurs = {}
    with open(f"/proc/{pid}/status") as fichier:
        for ligne in fichier:
            if ligne.startswith(("VmRSS:", "VmHWM:")):
                cle, valeur = ligne.split(":")
                valeurs[cle] = int(valeur.split()[0]) / 1024
    return valeurs


class Puits:
    """Counts the datagrams the agent sends and their sizes."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.2)
        self.port = self.socket.getsockname()[1]
        self.nombre = 0
        self.octets = 0
        self.fin = False
        self.fil = threading.Thread(target=self.recevoir, daemon=True)
        self.fil.start()

    def recevoir(self):
        while not self.fin:
            try:
                donnees = self.socket.recv(70000)
            except socket.timeout:
                continue
            self.nombre += 1
            self.octets += len(donnees)

    def attendre(self, nombre, delai):
        limite = time.monotonic() + delai
        while self.nombre < nombre:
            if time.monotonic() > limite:
                sys.exit(f"sonde : {self.nombre} datagramme(s) reçu(s) sur {nombre} attendus")
            time.sleep(0.005)

    def fermer(self):
        self.fin = True
        self.fil.join()
        self.socket.close()


def mesurer(agent, uri, rapports, intervalle, chauffe, options=()):
    puits = Puits()
    processus = subprocess.Popen([agent, f"--collecteur=127.0.0.1:{puits.port}", f"--intervalle={intervalle}",
                                  f"--libvirt={uri}", "--nom=hv-banc", *options],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        puits.attendre(chauffe, 60)
        debut_nombre, debut_cpu = puits.nombre, temps_cpu_ns(processus.pid)
        puits.attendre(chauffe + rapports, 60 + rapports * intervalle * 3)
        fin_nombre, fin_cpu = puits.nombre, temps_cpu_ns(processus.pid)
        octets = puits.octets / puits.nombre
        mem = memoire(processus.pid)
    finally:
        processus.terminate()
        _, erreurs = processus.communicate(timeout=10)
        puits.fermer()
    return {"cpu_ms": (fin_cpu - debut_cpu) / 1e6 / (fin_nombre - debut_nombre), "rss": mem["VmRSS"],
            "hwm": mem["VmHWM"], "octets": octets, "console": erreurs.strip().splitlines()}


def version_paquet(paquet):
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", paquet], capture_output=True, text=True).stdout
    except FileNotFoundError:
        return "?"


def main():
    analyseur = argparse.ArgumentParser(description=__doc__)
    analyseur.add_argument("--construction", required=True)
    analyseur.add_argument("--sortie", required=True)
    analyseur.add_argument("--domaines", type=int, default=100)
    analyseur.add_argument("--rapports", type=int, default=300, help="reports measured per run")
    analyseur.add_argument("--intervalle", type=float, default=0.1, help="seconds between reports (0.1 at least)")
    analyseur.add_argument("--series", type=int, default=3, help="runs per figure (median)")
    arguments = analyseur.parse_args()

    agent = os.path.join(arguments.construction, "sonde", "collecteur-sonde")
    if not os.access(agent, os.X_OK):
        sys.exit(f"sonde : {agent} introuvable")
    debut = time.time()
    mesures = {}
    with tempfile.TemporaryDirectory(prefix="banc-sonde-") as dossier:
        fichier = os.path.join(dossier, "noeud.xml")
        with open(fichier, "w") as sortie:
            sortie.write(noeud(arguments.domaines))
        # The agent's own fresh key, to measure what signing every report costs.
        cle = os.path.join(dossier, "cle")
        with open(cle, "w") as sortie:
            sortie.write(subprocess.run([agent, "--nom=hv-banc", "--nouvelle-cle"], capture_output=True, text=True,
                                        check=True).stdout)
        os.chmod(cle, 0o600)
        cas = [(f"{arguments.domaines} test-driver domains", f"test://{fichier}", ()),
               (f"{arguments.domaines} test-driver domains, each report signed (`--cle`)", f"test://{fichier}",
                ("--cle=" + cle,)),
               ("no libvirt (`--libvirt=aucun`)", "aucun", ())]
        for nom, uri, options in cas:
            mesures[nom] = []
            for serie in range(arguments.series):
                journal(f"{nom} : série {serie + 1}/{arguments.series}")
                mesures[nom].append(mesurer(agent, uri, arguments.rapports, arguments.intervalle, chauffe=20,
                                            options=options))

    charge = os.getloadavg()
    lignes = [
        TITRE,
        "",
        f"Written by `bench/sonde.sh` on {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')} "
        f"({(time.time() - debut) / 60:.1f} min; {os.cpu_count()} cores, Linux {platform.release()}, "
        f"libvirt0 {version_paquet('libvirt0')}, Release build with Qt 5; load average at end "
        f"{charge[0]:.2f} / {charge[1]:.2f} / {charge[2]:.2f}). The agent reads this machine's own `/proc` and `/sys` "
        f"and a libvirt test-driver node (`test:///path/node.xml`, in-process, no daemon) of running domains with "
        f"4 vCPUs and one interface each, and sends one report every {arguments.intervalle} s to a UDP sink; "
        f"after 20 reports of warm-up, the CPU time of all its threads (scheduler statistics, "
        f"`/proc/PID/task/*/schedstat`) over the next {arguments.rapports} reports is divided by their number. "
        f"Resident memory is read from `/proc/PID/status` at the end. Median of {arguments.series} runs, the runs "
        "in brackets. The test driver offers only the state group of the bulk statistics call, so the agent asks "
        "each domain for its information and interface counters (the per-domain path); qemu's driver gives them "
        "all in the bulk call.",
        "",
        "| VMs | CPU per report (ms) | resident memory, VmRSS (MiB) | peak, VmHWM (MiB) | bytes per report | target |",
        "|---|---|---|---|---|---|",
    ]
    for nom, runs in mesures.items():
        cpu = statistics.median(r["cpu_ms"] for r in runs)
        rss = statistics.median(r["rss"] for r in runs)
        hwm = statistics.median(r["hwm"] for r in runs)
        atteint = "met" if cpu < 5 and hwm < 30 else "NOT met"
        cpus = ", ".join(f"{r['cpu_ms']:.3f}" for r in runs)
        rsss = ", ".join(f"{r['rss']:.1f}" for r in runs)
        octets = statistics.median(r["octets"] for r in runs)
        lignes.append(f"| {nom} | {cpu:.3f} ({cpus}) | {rss:.1f} ({rsss}) | {hwm:.1f} | {octets:.0f} "
                      f"| < 5 ms and < 30 MiB: {atteint} |")
    lignes.append("")
    resultats.ecrire_section(arguments.sortie, TITRE, "\n".join(lignes))
    journal(f"résultats dans {arguments.sortie}")


if __name__ == "__main__":
    main()
