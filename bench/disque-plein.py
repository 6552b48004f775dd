#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures the collector on a full disk: its resident memory, sampled while
reports keep coming at a fixed rate for ten simulated hours (libfaketime
speeds its clock, and with it the hourly backups), against --memoire-max.

Started by bench/disque-plein.sh, which builds the collector and the agent
first. Root only (it mounts a small tmpfs). Standard library only. Writes its
own section of the results file, leaving the other sections as they are.
"""

import argparse
import datetime
import glob
import os
import platform
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

import resultats

TITRE = "## Full disk (collecteur --memoire-max)"
MIO = 1024 * 1024


def journal(message):
    print(f"[{datetime.datetime.now().strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def memoire(pid):
    """VmRSS and VmHWM in bytes, or None once the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as etat:
            valeurs = dict(ligne.split(":", 1) for ligne in etat if ":" in ligne)
        return int(valeurs["VmRSS"].split()[0]) * 1024, int(valeurs["VmHWM"].split()[0]) * 1024
    except (OSError, KeyError, ValueError):
        return None


def port_libre():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sonde:
        sonde.bind(("0.0.0.0", 0))
        return sonde.getsockname()[1]


def remplir(dossier):
    """Takes every byte the file system has left."""
    with open(os.path.join(dossier, "remplissage"), "wb", buffering=0) as fichier:
        for taille in (1 << 20, 4096, 1):
            try:
                while True:
                    fichier.write(b"x" * taille)
            except OSError:
                pass


def lire_console(chemin):
    with open(chemin, encoding="utf-8", errors="replace") as console:
        return console.read().splitlines()


def mesurer(arguments, plafond_mio):
    duree = arguments.heures * 3600 / arguments.vitesse
    with tempfile.TemporaryDirectory(prefix="banc-disque-") as dossier:
        disque = os.path.join(dossier, "disque")
        os.mkdir(disque)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", disque], check=True)
        try:
            remplir(disque)
            chemin_console = os.path.join(dossier, "console.txt")
            port = port_libre()
            environnement = dict(os.environ, LD_PRELOAD=arguments.faketime, FAKETIME=f"+0 x{arguments.vitesse}",
                                 LC_ALL="C.UTF-8")
            with open(chemin_console, "w") as console:
                collecteur = subprocess.Popen([arguments.collecteur, f"--port={port}", f"--memoire-max={plafond_mio}M"],
                                              cwd=disque, env=environnement, stdout=subprocess.DEVNULL, stderr=console)
            limite = time.time() + 30
            while not any("SUPPORTE le renvoi" in ligne for ligne in lire_console(chemin_console)):
                if time.time() > limite or collecteur.poll() is not None:
                    sys.exit("disque-plein : le collecteur ne démarre pas")
                time.sleep(0.1)
            depart = memoire(collecteur.pid)[0]
            agent = subprocess.Popen([arguments.agent, f"--port={port}", f"--hyperviseurs={arguments.hyperviseurs}",
                                      f"--vms={arguments.vms}", f"--rythme={arguments.rythme}", f"--duree={duree}",
                                      "--silencieux"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            debut = time.time()
            echantillons = []
            while agent.poll() is None:
                mesure = memoire(collecteur.pid)
                if mesure:
                    echantillons.append((time.time() - debut, mesure[0]))
                time.sleep(arguments.pas)
            sortie_agent = agent.stdout.read()
            # The last datagrams are read, then the stop.
            time.sleep(1)
            pointe = memoire(collecteur.pid)[1]
            collecteur.send_signal(signal.SIGTERM)
            statut = collecteur.wait(120)
            lignes = lire_console(chemin_console)
            restes = sorted(os.listdir(disque))
        finally:
            subprocess.run(["umount", "-l", disque], check=False)

    envoyes = re.search(r"(\d+) datagrammes envoyés", sortie_agent)
    supprimes = [int(m.group(1)) for m in (re.search(r"impossible : (\d+) rapport\(s\) parmi les plus anciens", ligne)
                                           for ligne in lignes) if m]
    atteint = next((t for t, rss in echantillons if rss - depart >= plafond_mio * MIO * 3 // 4), None)
    par_heure = []
    for heure in range(arguments.heures):
        fenetre = [rss for t, rss in echantillons
                   if heure * duree / arguments.heures <= t < (heure + 1) * duree / arguments.heures]
        par_heure.append(max(fenetre) if fenetre else 0)
    finale = next((ligne for ligne in reversed(lignes) if "Sauvegarde finale" in ligne), "")
    return {
        "plafond": plafond_mio,
        "depart": depart,
        "pointe": pointe,
        "fin": echantillons[-1][1] if echantillons else 0,
        "par_heure": par_heure,
        "envoyes": int(envoyes.group(1)) if envoyes else 0,
        "recus": sum(1 for ligne in lignes if ligne.startswith("Réception de")),
        "immediates": sum(1 for ligne in lignes if "sauvegarde immédiate" in ligne),
        "echecs": sum(1 for ligne in lignes if ligne.startswith('"Échec de la sauvegarde')),
        "lignes_suppression": len(supprimes),
        "supprimes": sum(supprimes),
        # Display clients of other programs on this machine connect to
        # whatever listens on port 56000; their frames cost memory too.
        "clients": sum(1 for ligne in lignes if ligne.startswith("Nouvelle connexion")),
        "autres": sum(1 for ligne in lignes if ligne.startswith('"')),
        "statut": statut,
        "finale": finale.strip(),
        "atteint": atteint,
        "en_cours": [reste for reste in restes if reste.endswith(".en-cours")],
    }


def main():
    analyseur = argparse.ArgumentParser(description=__doc__)
    analyseur.add_argument("--construction", required=True)
    analyseur.add_argument("--sortie", required=True)
    analyseur.add_argument("--plafonds", default="32,64", help="--memoire-max values in MiB, one run each")
    analyseur.add_argument("--heures", type=int, default=10, help="simulated hours per run")
    analyseur.add_argument("--vitesse", type=int, default=300, help="simulated seconds per second")
    analyseur.add_argument("--hyperviseurs", type=int, default=10)
    analyseur.add_argument("--vms", type=int, default=10)
    analyseur.add_argument("--rythme", type=float, default=100, help="reports per second and per hypervisor")
    analyseur.add_argument("--pas", type=float, default=0.5, help="seconds between memory samples")
    analyseur.add_argument("--isole", action="store_true", help="run in a network namespace of its own")
    arguments = analyseur.parse_args()

    if os.geteuid() != 0:
        sys.exit("disque-plein : il faut être root pour monter un tmpfs")
    arguments.construction = os.path.abspath(arguments.construction)
    arguments.collecteur = os.path.join(arguments.construction, "src", "app", "collecteur")
    arguments.agent = os.path.join(arguments.construction, "tools", "agent", "collecteur-agent")
    bibliotheques = glob.glob("/usr/lib/*/faketime/libfaketime.so.1") + glob.glob("/usr/lib/faketime/libfaketime.so.1")
    if not bibliotheques:
        sys.exit("disque-plein : libfaketime est absente (paquet faketime)")
    arguments.faketime = bibliotheques[0]
    debut = time.time()
    resultats = []
    for plafond in (int(p) for p in arguments.plafonds.split(",")):
        journal(f"--memoire-max={plafond}M : {arguments.heures} h simulées en "
                f"{arguments.heures * 3600 / arguments.vitesse:.0f} s")
        resultats.append(mesurer(arguments, plafond))

    charge = os.getloadavg()
    debit = arguments.hyperviseurs * arguments.rythme
    version = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "describe", "--always", "--dirty"],
                             capture_output=True, text=True).stdout.strip()
    lignes = [
        TITRE,
        "",
        f"Written by `bench/disque-plein.sh` on {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')} "
        f"({(time.time() - debut) / 60:.1f} min; {os.cpu_count()} cores, Linux {platform.release()}, collecteur "
        f"`{version}`, Release build with Qt 5; load average at end {charge[0]:.2f} / {charge[1]:.2f} / {charge[2]:.2f}). "
        f"The collector runs in a 16 MiB tmpfs that a file fills to the last byte before it starts, its clock "
        f"{arguments.vitesse} times as fast (libfaketime), for {arguments.heures} simulated hours; "
        f"`collecteur-agent` sends {debit:.0f} reports a second ({arguments.hyperviseurs} hypervisors, "
        f"{arguments.vms} VMs each) throughout. Every backup fails, hourly or at the bound, so past the bound the "
        f"oldest reports are dropped. Resident memory (`VmRSS`, `/proc/PID/status`) is sampled every "
        f"{arguments.pas} s; the peak is `VmHWM` before the stop. "
        + ("The collector and the agent run in a network namespace of their own, so that no other program's "
           "display client connects to the fixed display port." if arguments.isole else
           "Other programs' display clients may connect to the fixed display port (counted below)."),
        "",
        "| --memoire-max | RSS at start | peak RSS | peak − start | RSS up by ¾ of the bound after | reports sent / read "
        "| backups at the bound / failed in all | drop lines / reports dropped | stop: status, line |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for r in resultats:
        atteint = f"{r['atteint']:.0f} s" if r["atteint"] is not None else "never"
        lignes.append(
            f"| {r['plafond']} MiB | {r['depart'] / MIO:.1f} MiB | {r['pointe'] / MIO:.1f} MiB "
            f"| {(r['pointe'] - r['depart']) / MIO:.1f} MiB | {atteint} | {r['envoyes']} / {r['recus']} "
            f"| {r['immediates']} / {r['echecs']} | {r['lignes_suppression']} / {r['supprimes']} "
            f"| {r['statut']}, {r['finale']} |")
    lignes += [
        "",
        "Highest RSS within each simulated hour (MiB):",
        "",
        "| --memoire-max | " + " | ".join(f"h{h + 1}" for h in range(arguments.heures)) + " |",
        "|---|" + "---|" * arguments.heures,
    ]
    for r in resultats:
        lignes.append(f"| {r['plafond']} MiB | " + " | ".join(f"{rss / MIO:.0f}" for rss in r["par_heure"]) + " |")
    lignes.append("")
    en_cours = sum(len(r["en_cours"]) for r in resultats)
    autres = ", ".join(str(r["autres"]) for r in resultats)
    clients = ", ".join(str(r["clients"]) for r in resultats)
    lignes.append(f"The store's console lines (start-up, backups, drops, stop), per run: {autres}; display clients that "
                  f"connected: {clients}; temporary backup files left: {en_cours}.")
    lignes.append("")
    resultats.ecrire_section(arguments.sortie, TITRE, "\n".join(lignes))
    journal(f"résultats dans {arguments.sortie}")
    print("\n".join(lignes))


if __name__ == "__main__":
    main()
