#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark of signed reports (see bench/README.md, section Signed reports).

The collector with one display client, fed by the simulator at a fixed rate,
without keys (unsigned reports) and with --cles (every report signed by the
simulator), in alternating rounds of the same run: the collector's CPU time
per report, that of its busiest thread (the one that bounds the rate it can
sustain), whether every report was stored and relayed, and the simulator's
CPU time per datagram sent. Prints a Markdown section on standard output."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
from datetime import datetime

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import banc  # noqa: E402

# (VMs per report, reports per second), as the CPU section of bench/run.sh.
RYTHMES = ((20, 4000), (1, 20000))


class Agent:
    """banc.lancer_agent, signing with --cle when given, and the simulator's own CPU time."""

    def __init__(self):
        self.cle = None
        self.cpu = []  # (seconds of CPU, datagrams) of each run

    def lancer(self, programmes, vms, debit, duree):
        hyperviseurs, par_hyperviseur, nombre = banc.parametres_agent(debit, duree)
        arguments = [programmes.agent, f"--port={banc.PORT_UDP}", f"--hyperviseurs={hyperviseurs}", f"--vms={vms}",
                     f"--rythme={par_hyperviseur:.3f}", f"--nombre={nombre}", "--silencieux"]
        if self.cle:
            arguments.append("--cle=" + self.cle)
        processus = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        sortie, erreurs = processus.communicate()
        fin = time.monotonic()
        correspondance = re.search(r"Terminé : (\d+) datagrammes envoyés en ([\d.]+) s, soit (\d+) datagrammes/s ; "
                                   r"(\d+) échec", sortie)
        if not correspondance:
            sys.exit("signatures : bilan de l'agent illisible :\n" + sortie + erreurs)
        return {"envoyes": int(correspondance.group(1)), "duree": float(correspondance.group(2)),
                "debit_agent": int(correspondance.group(3)), "echecs": int(correspondance.group(4)), "fin": fin}


def cpu_agent(programmes, cle, vms, datagrammes):
    """The simulator's CPU time per datagram, as fast as it can send (no collector listening)."""
    arguments = [programmes.agent, f"--port={banc.PORT_UDP}", "--hyperviseurs=10", f"--vms={vms}", "--rythme=0",
                 f"--nombre={datagrammes // 10}", "--silencieux"] + (["--cle=" + cle] if cle else [])
    processus = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(processus.pid, 0)
    return (usage.ru_utime + usage.ru_stime) / datagrammes * 1e6


def threads_cpu(pid):
    """CPU seconds of each thread of a process."""
    ticks = os.sysconf("SC_CLK_TCK")
    resultat = {}
    for tache in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tache}/stat") as f:
                champs = f.read().rsplit(")", 1)[1].split()
            resultat[tache] = (int(champs[11]) + int(champs[12])) / ticks
        except OSError:
            pass
    return resultat


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--construction", required=True)
    analyse.add_argument("--repetitions", type=int, default=5)
    analyse.add_argument("--rodage", type=float, default=1.0)
    analyse.add_argument("--fenetre", type=float, default=4.0)
    args = analyse.parse_args()

    programmes = banc.Programmes(args.construction)
    agent = Agent()
    banc.lancer_agent = agent.lancer
    # The busiest thread's share, sampled around each measured window.
    fenetre_cpu = banc.fenetre_cpu
    fils = {}

    def fenetre_mesuree(programmes_, pid, vms, debit, rodage, fenetre):
        avant = threads_cpu(pid)
        resultat = fenetre_cpu(programmes_, pid, vms, debit, rodage, fenetre)
        apres = threads_cpu(pid)
        fils["max"] = max(apres.get(t, 0) - avant.get(t, 0) for t in apres)
        return resultat

    banc.fenetre_cpu = fenetre_mesuree
    charge_debut = os.getloadavg()[0]
    mesures = {}
    with tempfile.TemporaryDirectory(prefix="banc-signatures-") as dossier:
        cles = os.path.join(dossier, "cles")
        lignes = subprocess.run([programmes.agent, "--hyperviseurs=10", "--nouvelle-cle"], capture_output=True, text=True,
                                check=True).stdout
        with open(cles, "w") as f:
            f.write(lignes)
        os.chmod(cles, 0o600)
        for vms, debit in RYTHMES:
            for repetition in range(args.repetitions):
                for nom, options, cle in (("sans signature", (), None), ("signés", ("--cles=" + cles,), cles)):
                    agent.cle = cle
                    resultat = banc.cpu_collecteur(programmes, None, vms, debit, args.rodage, args.fenetre, options)
                    n = resultat["mesures"] - resultat["pertes_fenetre"]
                    valeur = {"complet": resultat["complet"], "us": resultat["cpu_s"] / n * 1e6 if n else None,
                              "fil_us": fils["max"] / n * 1e6 if n else None, "debit": resultat["debit_agent"],
                              "envoyes": resultat["envoyes"], "stockes": resultat["stockes"],
                              "trames": resultat["trames"]}
                    banc.journal(f"signatures : {nom}, {vms} VM à {debit}/s, tour {repetition + 1} : {valeur}")
                    mesures.setdefault((vms, debit), {}).setdefault(nom, []).append(valeur)
        agents = {vms: (cpu_agent(programmes, None, vms, 200000), cpu_agent(programmes, cles, vms, 200000))
                  for vms, _ in RYTHMES}

    def med(liste, cle):
        valeurs = [v[cle] for v in liste if v[cle] is not None]
        return statistics.median(valeurs) if valeurs else float("nan")

    print("## Signed reports\n")
    print("Measured by `bench/signatures.sh` on %s (%d cores), Release build: the collector with one display client "
          "(`collecteur-afficheur`), fed by the simulator (`collecteur-agent`, 10 hosts) at a fixed rate, unsigned then "
          "signed (`--cles`, every datagram signed with its host's key) in alternating rounds of the same run, %d rounds "
          "each; medians. CPU time from idle to idle over a %.0f-second window of reports.\n"
          % (datetime.now().strftime("%Y-%m-%d"), os.cpu_count(), args.repetitions, args.fenetre))
    print("| Rate | Unsigned: CPU per report (busiest thread) | Signed: CPU per report (busiest thread) | "
          "Sustained ingest, signed / unsigned (busiest thread) | Every report stored and relayed (runs) | Target |")
    print("|---|---|---|---|---|---|")
    for (vms, debit), parties in mesures.items():
        sans, signes = parties["sans signature"], parties["signés"]
        rapport = med(sans, "fil_us") / med(signes, "fil_us")
        print("| %d VM, %d reports/s | %.1f µs (%.1f µs) | %.1f µs (%.1f µs) | %.0f %% | %d/%d unsigned, %d/%d signed "
              "| ≥ 90 %% |" % (vms, debit, med(sans, "us"), med(sans, "fil_us"), med(signes, "us"), med(signes, "fil_us"),
                              rapport * 100, sum(v["complet"] for v in sans), len(sans),
                              sum(v["complet"] for v in signes), len(signes)))
    print("\n| Simulator, CPU per datagram sent as fast as it can | unsigned | signed |")
    print("|---|---|---|")
    for vms, (sans, signe) in agents.items():
        print("| %d VM per report | %.2f µs | %.2f µs |" % (vms, sans, signe))
    print("\nThe sustained ingest a collector can hold is bounded by its busiest thread (the one that receives, "
          "checks and hands on every datagram, or the store's): the ratio is that thread's CPU per report unsigned "
          "over signed. The agent signs with the same code as the simulator (`SignataireRapports`): one "
          "HMAC-SHA-256 over the datagram per report.")
    print("Load average of the machine (other programs included): %.1f at the start, %.1f at the end."
          % (charge_debut, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
