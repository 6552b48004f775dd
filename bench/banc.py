#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Drives the collector benchmark and writes its results as a Markdown table.

Started by bench/run.sh, which builds the programs first. Standard library only.

Each figure is the median of --series independent runs. The collector runs in a
temporary directory with its console (standard error) written to a file there,
where the reception and transmission lines are counted.
"""

import argparse
import datetime
import os
import platform
import re
import signal
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PORT_UDP = 55400
PORT_AFFICHAGE = 56000
# Sending must be over for this long before a run's last report is stored and
# relayed: a program that lags further behind does not sustain the rate, even
# if its buffers let it catch up later.
DELAI_GRACE = 0.5
# A rate counts as found once the lossless and lossy rates are this close.
PRECISION = 1.05


def journal(message):
    print(f"[{datetime.datetime.now().strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def mediane(valeurs):
    valeurs = [v for v in valeurs if v is not None]
    return statistics.median(valeurs) if valeurs else None


def cles_valeurs(texte):
    resultat = {}
    for ligne in texte.splitlines():
        if "=" in ligne:
            cle, valeur = ligne.split("=", 1)
            try:
                resultat[cle.strip()] = float(valeur)
            except ValueError:
                resultat[cle.strip()] = valeur.strip()
    return resultat


def pertes_udp(port):
    """Drops the kernel counted for the UDP socket bound to this port."""
    total = 0
    trouve = False
    for chemin in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(chemin) as fichier:
                next(fichier)
                for ligne in fichier:
                    champs = ligne.split()
                    if int(champs[1].split(":")[1], 16) == port:
                        total += int(champs[-1])
                        trouve = True
        except FileNotFoundError:
            pass
    return total if trouve else None


def statut_memoire(pid):
    memoire = {}
    try:
        with open(f"/proc/{pid}/status") as fichier:
            for ligne in fichier:
                if ligne.startswith(("VmHWM:", "VmRSS:")):
                    cle, valeur = ligne.split(":")
                    memoire[cle] = int(valeur.split()[0]) * 1024
    except (FileNotFoundError, ProcessLookupError):
        pass
    return memoire


# The fleet hour is sent at a pace the store keeps up with: relayed frames no
# longer wait for the store, and a backlog in its queue would be measured as
# the memory holding the hour.
RYTHME_REMPLISSAGE = 2500


def temps_cpu(pid):
    try:
        with open(f"/proc/{pid}/stat") as fichier:
            champs = fichier.read().rsplit(")", 1)[1].split()
        return (int(champs[11]) + int(champs[12])) / os.sysconf("SC_CLK_TCK")
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return None


def attendre_repos(pid, delai=600):
    """Until the process uses under a tenth of a core: the store, in a thread of its own, has caught up
    with what the relay already passed on."""
    limite = time.monotonic() + delai
    precedent = temps_cpu(pid)
    while time.monotonic() < limite:
        time.sleep(0.5)
        courant = temps_cpu(pid)
        if courant is None or precedent is None:
            return False
        if courant - precedent < 0.05:
            return True
        precedent = courant
    return False


def port_tcp_libre(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sonde:
        sonde.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            sonde.bind(("0.0.0.0", port))
            return True
        except OSError:
            return False


def attendre(condition, delai, pas=0.02):
    limite = time.monotonic() + delai
    while time.monotonic() < limite:
        if condition():
            return True
        time.sleep(pas)
    return condition()


def arreter(processus, delai=10):
    if processus.poll() is None:
        processus.send_signal(signal.SIGTERM)
        try:
            processus.wait(delai)
        except subprocess.TimeoutExpired:
            processus.kill()
            processus.wait()


class Programmes:
    def __init__(self, construction):
        # The collector and its clients run in directories of their own.
        construction = os.path.abspath(construction)
        self.collecteur = os.path.join(construction, "src/app/collecteur")
        self.agent = os.path.join(construction, "tools/agent/collecteur-agent")
        self.afficheur = os.path.join(construction, "tools/afficheur/collecteur-afficheur")
        self.reference = os.path.join(construction, "bench/collecteur-bench-reference")
        self.client = os.path.join(construction, "bench/collecteur-bench-client")
        for chemin in vars(self).values():
            if not os.access(chemin, os.X_OK):
                sys.exit(f"banc : programme introuvable : {chemin}")


class Collecteur:
    """One collector process in a directory of its own."""

    def __init__(self, programmes, dossier, options=(), environnement=None, binaire=None):
        self.dossier = dossier
        self.console = os.path.join(dossier, "console.log")
        # Another program's display port (a test run, say) must be gone first;
        # it can take it again between that check and the start.
        for _ in range(5):
            if not port_tcp_libre(PORT_AFFICHAGE):
                journal(f"le port TCP {PORT_AFFICHAGE} est occupé par un autre programme ; attente")
                if not attendre(lambda: port_tcp_libre(PORT_AFFICHAGE), 900, 1):
                    sys.exit(f"banc : le port TCP {PORT_AFFICHAGE} reste occupé")
            with open(self.console, "wb") as console:
                self.processus = subprocess.Popen([binaire or programmes.collecteur, f"--port={PORT_UDP}", *options],
                                                  cwd=dossier, env=environnement, stdin=subprocess.DEVNULL,
                                                  stdout=subprocess.DEVNULL, stderr=console)
            # The store's start-up lines come once both sockets are open.
            if not attendre(lambda: "dernière ligne insérée" in self.lire_console()
                            or self.processus.poll() is not None, 10):
                self.processus.kill()
                sys.exit("banc : le collecteur ne démarre pas :\n" + self.lire_console())
            if self.processus.poll() is None and "Impossible" not in self.lire_console():
                return
            arreter(self.processus)
            if f"écouter sur le port TCP {PORT_AFFICHAGE}" not in self.lire_console():
                break
        sys.exit("banc : le collecteur ne démarre pas :\n" + self.lire_console())

    def lire_console(self):
        with open(self.console, encoding="utf-8", errors="replace") as fichier:
            return fichier.read()

    def connexions(self):
        return self.lire_console().count("Nouvelle connexion")

    def arreter(self):
        """SIGTERM, then the time until the process ends and its last memory peak."""
        memoire = statut_memoire(self.processus.pid)
        debut = time.monotonic()
        self.processus.send_signal(signal.SIGTERM)
        pic = memoire.get("VmHWM", 0)
        while self.processus.poll() is None:
            pic = max(pic, statut_memoire(self.processus.pid).get("VmHWM", 0))
            if time.monotonic() - debut > 600:
                self.processus.kill()
                break
            time.sleep(0.005)
        duree = time.monotonic() - debut
        return {"code": self.processus.returncode, "arret_s": duree, "avant_arret": memoire, "pic_final": pic}

    def bilan_console(self):
        texte = self.lire_console()
        noyau = sum(int(n) for n in re.findall(r"(\d+) datagramme\(s\) perdu\(s\) par le système", texte))
        return {
            "receptions": texte.count("Réception de "),
            "transmissions": texte.count("Transmission des données"),
            "pertes_noyau_console": noyau,
            "trop_lent": texte.count("Client trop lent"),
        }

    def lignes_sauvegarde(self):
        fichiers = sorted(f for f in os.listdir(self.dossier) if f.startswith("collecteur") and f.endswith(".db"))
        hyperviseurs = vms = 0
        taille = 0
        for nom in fichiers:
            chemin = os.path.join(self.dossier, nom)
            taille += os.path.getsize(chemin)
            base = sqlite3.connect(chemin)
            hyperviseurs += base.execute("SELECT count(*) FROM InfosHyperviseurs").fetchone()[0]
            vms += base.execute("SELECT count(*) FROM InfosVMs").fetchone()[0]
            base.close()
        return {"fichiers": len(fichiers), "hyperviseurs": hyperviseurs, "vms": vms, "octets": taille}


def parametres_agent(debit, duree):
    """Hypervisors and per-hypervisor rate for a total rate, and the count each sends."""
    hyperviseurs = 10 if debit >= 100 else 1
    par_hyperviseur = debit / hyperviseurs
    nombre = max(1, round(par_hyperviseur * duree))
    return hyperviseurs, par_hyperviseur, nombre


def lancer_agent(programmes, vms, debit, duree):
    hyperviseurs, par_hyperviseur, nombre = parametres_agent(debit, duree)
    sortie = subprocess.run([programmes.agent, f"--port={PORT_UDP}", f"--hyperviseurs={hyperviseurs}", f"--vms={vms}",
                             f"--rythme={par_hyperviseur:.3f}", f"--nombre={nombre}", "--silencieux"],
                            capture_output=True, text=True, check=False)
    fin = time.monotonic()
    correspondance = re.search(r"Terminé : (\d+) datagrammes envoyés en ([\d.]+) s, soit (\d+) datagrammes/s ; (\d+) échec",
                               sortie.stdout)
    if not correspondance:
        sys.exit("banc : bilan de l'agent illisible :\n" + sortie.stdout + sortie.stderr)
    return {"envoyes": int(correspondance.group(1)), "duree": float(correspondance.group(2)),
            "debit_agent": int(correspondance.group(3)), "echecs": int(correspondance.group(4)), "fin": fin}


def essai_collecteur(programmes, vms, debit, duree, attente_retard=5, options=()):
    """One run at a fixed rate with one display client; what reached the store and the client."""
    with tempfile.TemporaryDirectory(prefix="banc-collecteur-") as dossier:
        collecteur = Collecteur(programmes, dossier, options)
        _, _, nombre = parametres_agent(debit, duree)
        attendus = parametres_agent(debit, duree)[0] * nombre
        afficheur = subprocess.Popen([programmes.afficheur, "--silencieux", f"--nombre={attendus}"], cwd=dossier,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if not attendre(lambda: collecteur.connexions() >= 1, 10):
            sys.exit("banc : l'afficheur ne se connecte pas")
        envoi = lancer_agent(programmes, vms, debit, duree)
        try:
            afficheur.wait(DELAI_GRACE)
            retard = max(0.0, time.monotonic() - envoi["fin"])
            a_temps = afficheur.returncode == 0
            # Frames no longer wait for the store, which has its own thread:
            # it has kept up only if the collector is idle once they are all
            # relayed, not still working through a queue of reports.
            avant = temps_cpu(collecteur.processus.pid)
            time.sleep(0.25)
            apres = temps_cpu(collecteur.processus.pid)
            a_temps = a_temps and avant is not None and apres is not None and apres - avant < 0.05
        except subprocess.TimeoutExpired:
            a_temps = False
            retard = None
        pertes_proc = pertes_udp(PORT_UDP)
        if not a_temps:
            # How far behind: the client's count once the backlog is through.
            try:
                afficheur.wait(attente_retard)
                retard = time.monotonic() - envoi["fin"]
            except subprocess.TimeoutExpired:
                pass
        arret = collecteur.arreter()
        try:
            sortie_afficheur, _ = afficheur.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            afficheur.kill()
            sortie_afficheur, _ = afficheur.communicate()
        trames = re.search(r"(\d+) trame\(s\) reçue\(s\)", sortie_afficheur or "")
        resultat = {
            "programme": "collecteur", "vms": vms, "debit": debit, "envoyes": envoi["envoyes"],
            "debit_agent": envoi["debit_agent"], "echecs_envoi": envoi["echecs"],
            "trames": int(trames.group(1)) if trames else 0, "a_temps": a_temps, "retard_s": retard,
            "pertes_proc": pertes_proc, "code": arret["code"],
        }
        resultat.update(collecteur.bilan_console())
        lignes = collecteur.lignes_sauvegarde()
        resultat["stockes"] = lignes["hyperviseurs"]
        resultat["stockes_vms"] = lignes["vms"]
    n = resultat["envoyes"]
    resultat["sans_perte"] = (resultat["echecs_envoi"] == 0 and resultat["a_temps"] and resultat["trames"] == n
                              and resultat["stockes"] == n and resultat["stockes_vms"] == n * vms and resultat["code"] == 0)
    return resultat


def essai_reference(programmes, vms, debit, duree):
    """The baseline program at a fixed rate: what it stored before the grace delay ran out."""
    reference = subprocess.Popen([programmes.reference, f"--port={PORT_UDP}"], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if not reference.stdout.readline().startswith("pret"):
        sys.exit("banc : le programme de référence ne démarre pas : " + reference.stderr.read())
    envoi = lancer_agent(programmes, vms, debit, duree)
    time.sleep(max(0.0, envoi["fin"] + DELAI_GRACE - time.monotonic()))
    pertes_proc = pertes_udp(PORT_UDP)
    reference.send_signal(signal.SIGTERM)
    sortie, _ = reference.communicate(timeout=60)
    bilan = cles_valeurs(sortie)
    n = envoi["envoyes"]
    resultat = {
        "programme": "reference", "vms": vms, "debit": debit, "envoyes": n, "debit_agent": envoi["debit_agent"],
        "echecs_envoi": envoi["echecs"], "recus": int(bilan.get("recus", 0)), "a_temps_n": int(bilan.get("avant_arret", 0)),
        "stockes": int(bilan.get("lignes_hyperviseurs", 0)), "stockes_vms": int(bilan.get("lignes_vms", 0)),
        "pertes_noyau": int(bilan.get("pertes_noyau", 0)), "pertes_proc": pertes_proc,
    }
    resultat["sans_perte"] = (resultat["echecs_envoi"] == 0 and resultat["a_temps_n"] == n and resultat["stockes"] == n
                              and resultat["stockes_vms"] == n * vms)
    return resultat


def debit_maximal(essai, vms, depart, duree, essais):
    """Highest lossless rate, by doubling or halving from `depart`, then bisection to 5 %.

    The rate kept is the one the agent achieved, should it fall short of the one asked for."""
    bas = haut = None
    atteint = None
    debit = depart

    def noter(resultat):
        nonlocal atteint
        essais.append(resultat)
        journal(f"  {resultat['programme']} {vms} VM à {debit:.0f}/s (agent : {resultat['debit_agent']}/s) : "
                f"{'sans perte' if resultat['sans_perte'] else 'PERTE'}")
        if resultat["sans_perte"]:
            atteint = max(atteint or 0, min(debit, resultat["debit_agent"]))

    def essayer():
        # A failure counts once a second trial at the same rate confirms it:
        # on a shared machine one trial can fall on another program's burst.
        resultat = essai(vms, debit, duree)
        noter(resultat)
        if not resultat["sans_perte"]:
            resultat = essai(vms, debit, duree)
            noter(resultat)
        return resultat

    while bas is None or haut is None:
        resultat = essayer()
        if resultat["sans_perte"]:
            bas = debit
            if haut is None:
                debit *= 2
        else:
            haut = debit
            if bas is None:
                debit /= 2
        if debit < 50:
            return None
    while haut / bas > PRECISION:
        debit = (bas * haut) ** 0.5
        resultat = essayer()
        if resultat["sans_perte"]:
            bas = debit
        else:
            haut = debit
    return atteint


# The CPU time per report at a fixed rate, well within what every program
# sustains on a quiet machine: it depends much less than the highest lossless
# rate on when other programs take a core, so a change can be judged by it.
RYTHMES_CPU = ((1, 20000), (20, 4000))


def attendre_inactif(pid, delai=60):
    """Until the process uses under two clock ticks in 0.3 s: its queues are empty."""
    limite = time.monotonic() + delai
    precedent = temps_cpu(pid)
    while precedent is not None and time.monotonic() < limite:
        time.sleep(0.3)
        courant = temps_cpu(pid)
        if courant is None:
            return False
        if courant - precedent < 2 / os.sysconf("SC_CLK_TCK"):
            return True
        precedent = courant
    return False


def fenetre_cpu(programmes, pid, vms, debit, rodage, fenetre):
    """Warm-up at the rate, then the CPU time the process spends on the next `fenetre` seconds of reports,
    from idle to idle: every report's work, queues included."""
    rodage_envoi = lancer_agent(programmes, vms, debit, rodage)
    inactif = attendre_inactif(pid)
    debut = temps_cpu(pid)
    pertes_debut = pertes_udp(PORT_UDP) or 0
    envoi = lancer_agent(programmes, vms, debit, fenetre)
    inactif = attendre_inactif(pid) and inactif
    fin = temps_cpu(pid)
    return {
        "envoyes": rodage_envoi["envoyes"] + envoi["envoyes"], "mesures": envoi["envoyes"],
        "pertes_fenetre": (pertes_udp(PORT_UDP) or 0) - pertes_debut,
        "echecs_envoi": rodage_envoi["echecs"] + envoi["echecs"], "debit_agent": envoi["debit_agent"],
        "inactif": inactif, "cpu_s": None if debut is None or fin is None else fin - debut,
    }


def cpu_collecteur(programmes, binaire, vms, debit, rodage, fenetre, options=()):
    """The collector with one display client; every report must be in the backup file and relayed."""
    with tempfile.TemporaryDirectory(prefix="banc-cpu-") as dossier:
        collecteur = Collecteur(programmes, dossier, options, binaire=binaire)
        try:
            afficheur = subprocess.Popen([programmes.afficheur, "--silencieux"], cwd=dossier, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            if not attendre(lambda: collecteur.connexions() >= 1, 10):
                sys.exit("banc : l'afficheur ne se connecte pas")
            resultat = fenetre_cpu(programmes, collecteur.processus.pid, vms, debit, rodage, fenetre)
            resultat["pertes_proc"] = pertes_udp(PORT_UDP)
            afficheur.send_signal(signal.SIGINT)
            try:
                sortie_afficheur, _ = afficheur.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                afficheur.kill()
                sortie_afficheur, _ = afficheur.communicate()
        finally:
            # The display port must be free for the next run, whatever happened.
            arret = collecteur.arreter()
        trames = re.search(r"(\d+) trame\(s\) reçue\(s\)", sortie_afficheur or "")
        lignes = collecteur.lignes_sauvegarde()
    n = resultat["envoyes"]
    resultat.update({"trames": int(trames.group(1)) if trames else 0, "stockes": lignes["hyperviseurs"],
                     "stockes_vms": lignes["vms"], "code": arret["code"]})
    resultat["complet"] = (resultat["echecs_envoi"] == 0 and resultat["inactif"] and resultat["trames"] == n
                           and resultat["stockes"] == n and resultat["stockes_vms"] == n * vms and arret["code"] == 0)
    return resultat


def cpu_reference(programmes, vms, debit, rodage, fenetre):
    """The baseline; every report must be stored."""
    reference = subprocess.Popen([programmes.reference, f"--port={PORT_UDP}"], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if not reference.stdout.readline().startswith("pret"):
        sys.exit("banc : le programme de référence ne démarre pas : " + reference.stderr.read())
    resultat = fenetre_cpu(programmes, reference.pid, vms, debit, rodage, fenetre)
    resultat["pertes_proc"] = pertes_udp(PORT_UDP)
    reference.send_signal(signal.SIGTERM)
    sortie, _ = reference.communicate(timeout=60)
    bilan = cles_valeurs(sortie)
    n = resultat["envoyes"]
    resultat.update({"stockes": int(bilan.get("lignes_hyperviseurs", 0)),
                     "stockes_vms": int(bilan.get("lignes_vms", 0)), "erreurs": int(bilan.get("erreurs", 0))})
    resultat["complet"] = (resultat["echecs_envoi"] == 0 and resultat["inactif"] and resultat["stockes"] == n
                           and resultat["stockes_vms"] == n * vms and resultat["erreurs"] == 0)
    return resultat


def programmes_cpu(programmes, avant):
    """The programs of one round, in their order: the collector with and without its journal, each
    right after the earlier build's when there is one, then the baseline."""
    def collecteur(binaire, options=()):
        return lambda v, d, r, f: cpu_collecteur(programmes, binaire, v, d, r, f, options)
    sans = ("--journal=aucun",)
    liste = []
    if avant:
        liste.append(("collecteur avant", collecteur(avant)))
    liste.append(("collecteur", collecteur(None)))
    if avant:
        liste.append(("sans journal avant", collecteur(avant, sans)))
    liste.append(("sans journal", collecteur(None, sans)))
    liste.append(("reference", lambda v, d, r, f: cpu_reference(programmes, v, d, r, f)))
    return liste


def mesures_cpu(programmes, avant, repetitions, rodage, fenetre):
    """Rounds of every program in turn (A B C A B C ...), so that a slow spell of the machine falls on
    all of them alike; the CPU time per report of each run, in microseconds (None if a report was lost)."""
    mesures = {}
    for vms, debit in RYTHMES_CPU:
        for repetition in range(repetitions):
            for nom, essai in programmes_cpu(programmes, avant):
                # A run that lost reports runs once more: on a shared machine
                # it can fall on another program's burst.
                for tentative in range(2):
                    resultat = essai(vms, debit, rodage, fenetre)
                    resultat["tentatives"] = tentative + 1
                    traites = resultat["mesures"] - resultat["pertes_fenetre"]
                    par_traite = (resultat["cpu_s"] / traites * 1e6
                                  if resultat["cpu_s"] is not None and traites > 0 else None)
                    resultat["us_par_rapport"] = par_traite if resultat["complet"] else None
                    journal(f"cpu : {nom}, {vms} VM à {debit}/s, tour {repetition + 1} : "
                            + (f"{par_traite:.2f} µs par rapport" if resultat["complet"] else
                               f"INCOMPLET ({par_traite or 0:.2f} µs par rapport traité, pertes du noyau "
                               f"{resultat['pertes_proc']}) {resultat}")
                            + f" (agent : {resultat['debit_agent']}/s)")
                    if resultat["complet"]:
                        break
                mesures.setdefault((vms, debit), {}).setdefault(nom, []).append(resultat)
    return mesures


def flotte(programmes, hotes, vms, rapports):
    """Fills the collector with one fleet hour, stops it, times its backup, then
    VACUUM INTO of the same rows, loaded from that backup file by the baseline."""
    with tempfile.TemporaryDirectory(prefix="banc-flotte-") as dossier:
        collecteur = Collecteur(programmes, dossier)
        debut = time.monotonic()
        sortie = subprocess.run([programmes.client, "flotte", f"--port={PORT_UDP}", f"--hotes={hotes}", f"--vms={vms}",
                                 f"--rapports={rapports}", "--fenetre=2000", f"--rythme={RYTHME_REMPLISSAGE}",
                                 f"--affichage={PORT_AFFICHAGE}"],
                                capture_output=True, text=True, check=False)
        attendre_repos(collecteur.processus.pid)
        remplissage = time.monotonic() - debut
        envoi = cles_valeurs(sortie.stdout)
        # The display connection the client closed must be gone before the stop.
        time.sleep(0.2)
        apparition = {}

        def guetter():
            # The backup is written under a temporary name, which appears when
            # it begins, and takes its own name once complete and synced.
            while "t" not in apparition:
                for nom in os.listdir(dossier):
                    if nom.startswith("collecteur") and nom.endswith(".db.en-cours"):
                        apparition["t"] = time.time()
                        apparition["nom"] = nom[:-len(".en-cours")]
                        break
                time.sleep(0.002)
            while apparition.get("nom") and "fin" not in apparition:
                if os.path.exists(os.path.join(dossier, apparition["nom"])):
                    apparition["fin"] = time.time()
                    return
                time.sleep(0.002)

        guetteur = threading.Thread(target=guetter)
        guetteur.start()
        arret = collecteur.arreter()
        apparition.setdefault("t", None)
        apparition.setdefault("fin", None)
        guetteur.join()
        sauvegarde_fichier = None
        if apparition.get("fin"):
            sauvegarde_fichier = apparition["fin"] - apparition["t"]
        lignes = collecteur.lignes_sauvegarde()
        bilan = collecteur.bilan_console()

        reference = {}
        if apparition.get("nom"):
            resultat = subprocess.run([programmes.reference, f"--charger={os.path.join(dossier, apparition['nom'])}",
                                       f"--vacuum-into={os.path.join(dossier, 'vacuum.db')}"],
                                      capture_output=True, text=True, check=False)
            reference = cles_valeurs(resultat.stdout)
    return {
        "envoyes": int(envoi.get("envoyes", 0)), "trames": int(envoi.get("trames", 0)), "remplissage_s": remplissage,
        "hyperviseurs": lignes["hyperviseurs"], "vms": lignes["vms"], "octets": lignes["octets"],
        "sauvegarde_s": sauvegarde_fichier, "arret_s": arret["arret_s"], "rss_avant": arret["avant_arret"].get("VmRSS"),
        "hwm_avant": arret["avant_arret"].get("VmHWM"), "hwm_final": arret["pic_final"], "code": arret["code"],
        "receptions": bilan["receptions"], "vacuum_s": reference.get("vacuum_into_s"),
        "hwm_reference": reference.get("vmhwm_octets"),
        "lignes_reference": (reference.get("lignes_hyperviseurs"), reference.get("lignes_vms")),
    }


def ecart_sauvegarde(programmes, hotes, vms, rapports):
    """The longest time between two frames at a display client while the fleet hour is backed up, the
    fleet still sending 100 reports/s. The hourly backup is brought forward by moving the collector's
    clock (libfaketime, re-read every second) an hour on."""
    faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
    if not os.path.exists(faketime):
        return None
    with tempfile.TemporaryDirectory(prefix="banc-ecart-") as dossier:
        horloge = os.path.join(dossier, "horloge")
        with open(horloge, "w") as fichier:
            fichier.write("+0\n")
        environnement = dict(os.environ, LD_PRELOAD=faketime, FAKETIME_TIMESTAMP_FILE=horloge,
                             FAKETIME_CACHE_DURATION="1")
        collecteur = Collecteur(programmes, dossier, environnement=environnement)
        subprocess.run([programmes.client, "flotte", f"--port={PORT_UDP}", f"--hotes={hotes}", f"--vms={vms}",
                        f"--rapports={rapports}", "--fenetre=2000", f"--rythme={RYTHME_REMPLISSAGE}",
                        f"--affichage={PORT_AFFICHAGE}"],
                       capture_output=True, text=True, check=False)
        attendre_repos(collecteur.processus.pid)
        client = subprocess.Popen([programmes.client, "ecart", f"--port={PORT_UDP}", f"--affichage={PORT_AFFICHAGE}",
                                   "--rythme=100", "--duree=15"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  text=True)
        time.sleep(3)
        with open(horloge, "w") as fichier:
            fichier.write("+3600\n")
        debut = time.monotonic()
        # The backup must fall inside the client's run to count.
        pendant = attendre(lambda: any(n.endswith(".db") for n in os.listdir(dossier)), 11, 0.01)
        duree = time.monotonic() - debut if pendant else None
        sortie, erreurs = client.communicate(timeout=120)
        collecteur.arreter()
    resultat = cles_valeurs(sortie)
    resultat["sauvegarde_finie_apres_s"] = duree
    return resultat


def latence(programmes, clients, vms, debit, duree):
    with tempfile.TemporaryDirectory(prefix="banc-latence-") as dossier:
        collecteur = Collecteur(programmes, dossier)
        sortie = subprocess.run([programmes.client, "latence", f"--port={PORT_UDP}", f"--affichage={PORT_AFFICHAGE}",
                                 f"--clients={clients}", f"--vms={vms}", f"--rythme={debit}", f"--duree={duree}"],
                                capture_output=True, text=True, check=False)
        collecteur.arreter()
    resultat = cles_valeurs(sortie.stdout)
    if "mediane_us" not in resultat:
        sys.exit("banc : mesure de latence illisible :\n" + sortie.stdout + sortie.stderr)
    return resultat


def charge(programmes, lecteurs, muets, vms, debit, duree):
    """Relay latency on reading clients while others never read, and the collector's memory around it."""
    with tempfile.TemporaryDirectory(prefix="banc-charge-") as dossier:
        collecteur = Collecteur(programmes, dossier)
        pid = collecteur.processus.pid
        avant = statut_memoire(pid).get("VmRSS", 0)
        client = subprocess.Popen([programmes.client, "latence", f"--port={PORT_UDP}", f"--affichage={PORT_AFFICHAGE}",
                                   f"--clients={lecteurs}", f"--muets={muets}", f"--vms={vms}", f"--rythme={debit}",
                                   f"--duree={duree}"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        pendant = avant
        while client.poll() is None:
            pendant = max(pendant, statut_memoire(pid).get("VmRSS", 0))
            time.sleep(0.05)
        sortie, erreurs = client.communicate()
        # Memory left once every client is gone and the collector has had
        # time to give it back.
        attendre(lambda: collecteur.lire_console().count("Nouvelle connexion") > 0, 1)
        time.sleep(3)
        apres = statut_memoire(pid).get("VmRSS", 0)
        bilan = collecteur.bilan_console()
        collecteur.arreter()
    resultat = cles_valeurs(sortie)
    if "mediane_us" not in resultat:
        sys.exit("banc : mesure sous charge illisible :\n" + sortie + erreurs)
    resultat.update({"rss_avant": avant, "rss_pendant": pendant, "rss_apres": apres, "coupes": bilan["trop_lent"]})
    return resultat


def autres_processus_lourds():
    """Other programs using CPU time right now (fuzzers, builds), sampled over one second."""
    def temps_cpu():
        mesure = {}
        for entree in os.listdir("/proc"):
            if not entree.isdigit():
                continue
            try:
                with open(f"/proc/{entree}/stat") as fichier:
                    champs = fichier.read().rsplit(")", 1)
                nom = champs[0].split("(", 1)[1]
                valeurs = champs[1].split()
                mesure[int(entree)] = (nom, int(valeurs[11]) + int(valeurs[12]))
            except (FileNotFoundError, ProcessLookupError, IndexError, PermissionError):
                pass
        return mesure
    avant = temps_cpu()
    time.sleep(1)
    apres = temps_cpu()
    tic = os.sysconf("SC_CLK_TCK")
    lourds = []
    for pid, (nom, temps) in apres.items():
        if pid in avant and pid != os.getpid():
            part = (temps - avant[pid][1]) / tic
            if part > 0.2:
                lourds.append(f"{nom} ({part * 100:.0f} % of a core)")
    return lourds


def collecteur_avant(chemin):
    """The earlier build's collector and its commit, when it was built inside its own git worktree."""
    if os.path.isdir(chemin):
        chemin = os.path.join(chemin, "src/app/collecteur")
    chemin = os.path.abspath(chemin)
    if not os.access(chemin, os.X_OK) or os.path.isdir(chemin):
        sys.exit(f"banc : programme introuvable : {chemin}")
    version = commande(["git", "-C", os.path.dirname(chemin), "describe", "--always", "--dirty"])
    return {"chemin": chemin, "version": version or "?"}


def commande(arguments):
    try:
        return subprocess.run(arguments, capture_output=True, text=True, check=False).stdout.strip()
    except FileNotFoundError:
        return ""


def machine(racine, construction):
    modele = ""
    with open("/proc/cpuinfo") as fichier:
        for ligne in fichier:
            if ligne.startswith("model name"):
                modele = ligne.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as fichier:
        memoire = int(fichier.readline().split()[1]) // 1024 // 1024
    qt = ""
    with open(os.path.join(construction, "CMakeCache.txt")) as fichier:
        for ligne in fichier:
            if ligne.startswith(("Qt5Core_DIR", "Qt6Core_DIR")):
                qt = ligne.split("=", 1)[1].strip()
    paquets = commande(["dpkg-query", "-W", "-f=${Package} ${Version}\n", "libqt5core5a", "libqt6core6",
                        "libsqlite3-0", "g++"])
    version = commande(["git", "-C", racine, "describe", "--always", "--dirty"])
    return {
        "processeur": f"{modele}, {os.cpu_count()} cores",
        "memoire": f"{memoire} GiB",
        "systeme": f"Debian {commande(['cat', '/etc/debian_version'])}, Linux {platform.release()}",
        "paquets": paquets.replace("\n", ", "),
        "qt_cmake": qt,
        "version": version,
        "rmem_max": commande(["sysctl", "-n", "net.core.rmem_max"]),
    }


def liste(valeurs, modele):
    return ", ".join(modele.format(v) for v in valeurs)


def formater_debit(valeur):
    return "—" if valeur is None else f"{valeur:,.0f}".replace(",", " ")


def formater_ratio(numerateur, denominateur):
    if not numerateur or not denominateur:
        return "—"
    return f"{numerateur / denominateur * 100:.0f} %"


def main():
    analyseur = argparse.ArgumentParser(description=__doc__)
    analyseur.add_argument("--construction", required=True)
    analyseur.add_argument("--sortie", required=True)
    analyseur.add_argument("--series", type=int, default=3, help="runs per figure (median)")
    analyseur.add_argument("--duree", type=float, default=3.0, help="seconds of sending per rate trial")
    analyseur.add_argument("--rapports-flotte", type=int, default=360, help="reports per host in the fleet hour")
    analyseur.add_argument("--parties", default=analyseur_parties_par_defaut())
    analyseur.add_argument("--repetitions", type=int, default=5,
                           help="rounds of the CPU time per report at a fixed rate (part cpu)")
    analyseur.add_argument("--rodage", type=float, default=1.0, help="seconds of warm-up before each CPU window")
    analyseur.add_argument("--fenetre", type=float, default=4.0, help="seconds of sending in each CPU window")
    analyseur.add_argument("--collecteur-avant", metavar="CHEMIN",
                           help="an earlier build's collector (its binary or its build directory), measured beside "
                                "the current one in the part cpu")
    arguments = analyseur.parse_args()
    programmes = Programmes(arguments.construction)
    avant = collecteur_avant(arguments.collecteur_avant) if arguments.collecteur_avant else None
    racine = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parties = set(arguments.parties.split(","))

    debut = time.monotonic()
    horodatage = datetime.datetime.now(datetime.timezone.utc)
    infos = machine(racine, arguments.construction)
    charge_avant = os.getloadavg()
    lourds_avant = autres_processus_lourds()
    journal(f"début ; autres processus actifs : {', '.join(lourds_avant) or 'aucun'}")

    debits = {}
    essais = []
    au_dela = {}
    if "debit" in parties:
        for vms, depart_collecteur, depart_reference in ((1, 16000, 40000), (20, 4000, 8000)):
            for nom, essai, depart in (("collecteur", lambda v, d, t: essai_collecteur(programmes, v, d, t), depart_collecteur),
                                       ("sans journal", lambda v, d, t: essai_collecteur(programmes, v, d, t, 5,
                                                                                          ("--journal=aucun",)),
                                        depart_collecteur),
                                       ("reference", lambda v, d, t: essai_reference(programmes, v, d, t), depart_reference)):
                series = []
                for serie in range(arguments.series):
                    journal(f"débit maximal : {nom}, {vms} VM, série {serie + 1}")
                    maximum = debit_maximal(essai, vms, depart, arguments.duree, essais)
                    series.append(maximum)
                    if maximum:
                        depart = maximum
                debits[(nom, vms)] = series
            # Just above the collector's rate: what is lost, and where.
            mesure = mediane(debits[("collecteur", vms)])
            if mesure:
                au_dela[vms] = []
                for serie in range(arguments.series):
                    resultat = essai_collecteur(programmes, vms, mesure * 1.1, arguments.duree, 30)
                    au_dela[vms].append(resultat)
                    journal(f"  au-delà, {vms} VM à {mesure * 1.1:.0f}/s : {resultat}")

    cpu = {}
    if "cpu" in parties:
        cpu = mesures_cpu(programmes, avant and avant["chemin"], arguments.repetitions, arguments.rodage,
                          arguments.fenetre)

    flottes = []
    hotes, vms_flotte = 1000, 10
    if "flotte" in parties:
        for serie in range(arguments.series):
            journal(f"heure de flotte, série {serie + 1}")
            resultat = flotte(programmes, hotes, vms_flotte, arguments.rapports_flotte)
            journal(f"  {resultat}")
            ecart = ecart_sauvegarde(programmes, hotes, vms_flotte, arguments.rapports_flotte)
            journal(f"  relais pendant la sauvegarde : {ecart}")
            if ecart and ecart.get("trames") == ecart.get("envoyes") and ecart.get("sauvegarde_finie_apres_s"):
                resultat["ecart_max_ms"] = ecart.get("ecart_max_ms")
            flottes.append(resultat)

    latences = {}
    if "latence" in parties:
        for clients in (1, 10):
            latences[clients] = []
            for serie in range(arguments.series):
                resultat = latence(programmes, clients, 10, 500, 4)
                journal(f"latence, {clients} client(s), série {serie + 1} : {resultat}")
                latences[clients].append(resultat)

    charges = []
    if "charge" in parties:
        for serie in range(arguments.series):
            resultat = charge(programmes, 201, 50, 10, 200, 10)
            journal(f"sous charge, série {serie + 1} : {resultat}")
            charges.append(resultat)

    lourds_apres = autres_processus_lourds()
    duree_totale = time.monotonic() - debut
    ecrire_resultats(arguments, infos, horodatage, duree_totale, charge_avant, lourds_avant, lourds_apres, debits,
                     au_dela, cpu, avant, flottes, latences, hotes, vms_flotte, charges)
    if cpu:
        print("\n".join(section_cpu(arguments, cpu, infos, avant)))
    journal(f"fini en {duree_totale / 60:.1f} min ; résultats dans {arguments.sortie}")


def par_tour(resultats, numerateur, denominateur, forme):
    """One figure per round from two programs' runs of that round, both complete."""
    valeurs = []
    for a, b in zip(resultats.get(numerateur, []), resultats.get(denominateur, [])):
        if a["us_par_rapport"] and b["us_par_rapport"]:
            valeurs.append(forme(a["us_par_rapport"], b["us_par_rapport"]))
    return valeurs


def section_cpu(arguments, cpu, infos, avant):
    noms = {
        "collecteur avant": f"earlier collector `{avant['version']}`" if avant else "",
        "sans journal avant": f"earlier collector `{avant['version']}`, `--journal=aucun`" if avant else "",
        "collecteur": f"collector `{infos['version']}`",
        "sans journal": f"collector `{infos['version']}`, `--journal=aucun`",
        "reference": "baseline",
    }
    n = arguments.repetitions
    lignes = [
        "## CPU time per report at a fixed rate",
        "",
        "The CPU time (user + system, `/proc/PID/stat`, all threads) a program spends per report at a fixed "
        "rate that every program sustains on a quiet machine, from 10 simulated hypervisors: after "
        f"{arguments.rodage:g} s of warm-up at that rate and once the program is idle, {arguments.fenetre:g} s of "
        "sending, until it is idle again (its queues empty), divided by the reports of those seconds. A run "
        "counts only if every report sent, warm-up included, was stored (rows of the backup file written at "
        "SIGTERM, or the baseline's own count) and, for the collector, relayed to its one display client "
        "(`collecteur-afficheur --silencieux`); a run that lost any runs once more, and counts as lost if that "
        "one loses any too. The programs take turns (A B C A B C ...), "
        f"{n} round{'s' if n > 1 else ''}, so that a busy spell of the machine falls on all of them alike; "
        "the spread is (max − min) / median. Ratios are taken within each round; their median and range follow.",
        "",
        "| VMs per report | rate (reports/s) | program | CPU per report (µs) | runs | spread | complete runs "
        "| agent's rate (reports/s) |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for (vms, debit), resultats in cpu.items():
        for nom, essais in resultats.items():
            valeurs = [r["us_par_rapport"] for r in essais if r["us_par_rapport"]]
            m = mediane(valeurs)
            ecart = f"{(max(valeurs) - min(valeurs)) / m * 100:.1f} %" if valeurs else "—"
            lignes.append(
                f"| {vms} | {formater_debit(debit)} | {noms[nom]} | {f'{m:.2f}' if m else '—'} "
                f"| {', '.join(f'{v:.2f}' if v else 'lost' for v in (r['us_par_rapport'] for r in essais))} "
                f"| {ecart} | {len(valeurs)}/{len(essais)} "
                f"| {formater_debit(mediane([r['debit_agent'] for r in essais]))} |")

    def resume(valeurs, modele):
        if not valeurs:
            return "—"
        return f"{modele.format(mediane(valeurs))} ({modele.format(min(valeurs))} to {modele.format(max(valeurs))})"

    def ratio(a, b):
        return a / b * 100

    def surcout(a, b):
        return (a / b - 1) * 100

    entetes = ["VMs per report", "collector / baseline", "journal's cost (with / without − 1)"]
    if avant:
        entetes += ["current / earlier, with journal", "current / earlier, without journal"]
    lignes += ["", "| " + " | ".join(entetes) + " |", "|" + "---|" * len(entetes)]
    for (vms, debit), resultats in cpu.items():
        cellules = [str(vms), resume(par_tour(resultats, "collecteur", "reference", ratio), "{:.0f} %"),
                    resume(par_tour(resultats, "collecteur", "sans journal", surcout), "{:+.1f} %")]
        if avant:
            cellules += [resume(par_tour(resultats, "collecteur", "collecteur avant", ratio), "{:.1f} %"),
                         resume(par_tour(resultats, "sans journal", "sans journal avant", ratio), "{:.1f} %")]
        lignes.append("| " + " | ".join(cellules) + " |")
    if avant:
        lignes += ["", f"The earlier collector: `{avant['chemin']}`."]
    lignes.append("")
    return lignes


def ecrire_resultats(arguments, infos, horodatage, duree_totale, charge_avant, lourds_avant, lourds_apres, debits,
                     au_dela, cpu, avant, flottes, latences, hotes, vms_flotte, charges):
    n = arguments.series
    lignes = [
        "# Benchmark results",
        "",
        "Written by `bench/run.sh`; the method is in `bench/README.md`. Every figure is the median of "
        f"{n} runs; the runs' own values follow in brackets where they matter.",
        "",
        "| | |",
        "|---|---|",
        f"| Date | {horodatage.strftime('%Y-%m-%d %H:%M')} UTC, {duree_totale / 60:.1f} min |",
        f"| Machine | {infos['processeur']}, {infos['memoire']} |",
        f"| System | {infos['systeme']}, net.core.rmem_max = {infos['rmem_max']} |",
        f"| Versions | collecteur `{infos['version']}`, {infos['paquets']} |",
        f"| Build | Release, Qt from `{infos['qt_cmake']}` |",
        f"| Load average at start | {' / '.join(f'{c:.2f}' for c in charge_avant)} |",
        f"| Other busy processes | at start: {', '.join(lourds_avant) or 'none'}; at end: {', '.join(lourds_apres) or 'none'} |",
        "| Collector console | standard error to a file in the run's temporary directory (counted there) |",
        "",
    ]

    if debits:
        lignes += [
            "## Sustained ingest",
            "",
            f"Highest rate at which every report sent is stored (counted in the backup file written at SIGTERM) and "
            f"relayed to one connected display client (`collecteur-afficheur --silencieux`), all within {DELAI_GRACE} s "
            f"of the end of sending, the collector then idle (under a fifth of a core over 0.25 s: its store has "
            f"no queue left); {arguments.duree:g} s runs from 10 simulated hypervisors (`collecteur-agent`), "
            "bisection to 5 %, a failed trial repeated once before its rate counts as failed. "
            "The baseline, `collecteur-bench-reference`, receives the same datagrams on one blocking socket and "
            "stores the same rows in an in-memory SQLite database with statements prepared once, one transaction per "
            "report, and must have stored them all within the same delay. The collector runs with its journal "
            "(the default) and without it (`--journal=aucun`), in the same run.",
            "",
            "| VMs per report | collector (reports/s) | without journal (reports/s) | journal's cost | baseline (reports/s) "
            "| collector / baseline |",
            "|---|---|---|---|---|---|",
        ]
        for vms in (1, 20):
            collecteur = debits.get(("collecteur", vms), [])
            sans = debits.get(("sans journal", vms), [])
            reference = debits.get(("reference", vms), [])
            mc, ms, mr = mediane(collecteur), mediane(sans), mediane(reference)
            cout = f"{100 * (1 - mc / ms):.1f} % (target < 10 %)" if mc and ms else "—"
            lignes.append(
                f"| {vms} | {formater_debit(mc)} ({', '.join(formater_debit(v) for v in collecteur)}) "
                f"| {formater_debit(ms)} ({', '.join(formater_debit(v) for v in sans)}) | {cout} "
                f"| {formater_debit(mr)} ({', '.join(formater_debit(v) for v in reference)}) "
                f"| {formater_ratio(mc, mr)} |")
        lignes += [
            "",
            "### Just above that rate (110 %)",
            "",
            "Where the reports go, median of the runs: kernel drops are the UDP socket's `drops` in `/proc/net/udp` "
            "(the collector's own console line agrees); *late* means still in the collector's queues when the "
            "delay ran out, and the lag is how long after the end of sending the display client got the last frame.",
            "",
            "| VMs | rate | sent | kernel drops | received by the collector | stored | relayed | late, lag |",
            "|---|---|---|---|---|---|---|---|",
        ]
        for vms, resultats in au_dela.items():
            if not resultats:
                continue
            def m(cle):
                return mediane([r[cle] for r in resultats])
            retards = [r["retard_s"] for r in resultats if r["retard_s"] is not None]
            en_retard = sum(1 for r in resultats if not r["a_temps"])
            lignes.append(
                f"| {vms} | {formater_debit(resultats[0]['debit'])}/s | {formater_debit(m('envoyes'))} "
                f"| {formater_debit(m('pertes_proc'))} | {formater_debit(m('receptions'))} | {formater_debit(m('stockes'))} "
                f"| {formater_debit(m('trames'))} | {en_retard}/{len(resultats)} runs late, "
                f"{mediane(retards) or 0:.2f} s |")
        lignes.append("")

    if cpu:
        lignes += section_cpu(arguments, cpu, infos, avant)

    if flottes:
        attendus = hotes * arguments.rapports_flotte
        complets = all(r["hyperviseurs"] == attendus and r["vms"] == attendus * vms_flotte for r in flottes)

        def ligne(titre, cle, modele="{:.2f}", echelle=1.0):
            valeurs = [r[cle] / echelle for r in flottes if r.get(cle) is not None]
            if not valeurs:
                return f"| {titre} | — | |"
            return f"| {titre} | {modele.format(mediane(valeurs))} | {liste(valeurs, modele)} |"

        for r in flottes:
            r["debit_remplissage"] = r["envoyes"] / r["remplissage_s"] if r["remplissage_s"] else None
            r["ratio"] = r["sauvegarde_s"] / r["vacuum_s"] if r.get("sauvegarde_s") and r.get("vacuum_s") else None
            r["ratio_arret"] = r["arret_s"] / r["vacuum_s"] if r.get("vacuum_s") else None
        ratio = mediane([r["ratio"] for r in flottes])
        lignes += [
            "## Backup of one fleet hour",
            "",
            f"{hotes} hypervisors with {vms_flotte} VMs each, {arguments.rapports_flotte} reports per host 10 s apart "
            f"({formater_debit(attendus)} hypervisor rows, {formater_debit(attendus * vms_flotte)} VM rows), sent by "
            f"`collecteur-bench-client flotte`, each host from its own loopback address, at {RYTHME_REMPLISSAGE} "
            "reports/s (a pace the store keeps up with) and at most 2000 reports ahead of the frames relayed back "
            "to it; once the collector is idle, SIGTERM. The backup runs from the creation of its temporary file "
            "to its renaming once complete and synced; the stop, from SIGTERM to the collector's exit. The baseline "
            "loads that same backup file page by page into an in-memory database (`collecteur-bench-reference "
            "--charger`) and times `VACUUM INTO` of it into a new file. For the relay's longest gap, the collector "
            "is filled the same way in a run of its own, a display client receives a report every 10 ms, and the "
            "hourly backup is brought forward by moving the collector's clock an hour on (libfaketime).",
            "",
            "| | median | runs |",
            "|---|---|---|",
            f"| rows in the collector's backup file | {'all' if complets else 'MISSING ROWS'} | "
            f"{', '.join(str(r['hyperviseurs']) + ' + ' + str(r['vms']) for r in flottes)} |",
            ligne("collector backup (s)", "sauvegarde_s"),
            ligne("collector stop, SIGTERM to exit (s)", "arret_s"),
            ligne("baseline `VACUUM INTO` of the same rows (s)", "vacuum_s"),
            ligne("backup / VACUUM INTO (target ≤ 1: "
                  f"{'met' if ratio is not None and ratio <= 1 else 'NOT met'})", "ratio"),
            ligne("stop / VACUUM INTO", "ratio_arret"),
            ligne("longest time between two frames at a display client during the hourly backup of the same "
                  "hour, the fleet sending 100 reports/s (target < 50 ms)", "ecart_max_ms", "{:.0f}"),
            ligne("collector peak memory holding the hour, VmHWM before SIGTERM (MiB)", "hwm_avant", "{:.0f}", 2**20),
            ligne("collector peak memory through the backup, last VmHWM (MiB)", "hwm_final", "{:.0f}", 2**20),
            ligne("baseline memory holding the same rows, VmHWM (MiB)", "hwm_reference", "{:.0f}", 2**20),
            ligne("backup file size (MiB)", "octets", "{:.0f}", 2**20),
            ligne("time to fill the collector (s)", "remplissage_s", "{:.0f}"),
            ligne("fill rate as the store grows to the full hour (reports/s)", "debit_remplissage", "{:.0f}"),
            "",
        ]

    if latences:
        lignes += [
            "## Relay latency",
            "",
            "From just before `sendto` of a report datagram to just after the read of its frame, on each display "
            "connection, by `collecteur-bench-client latence` (one process, one clock): 500 reports/s with 10 VMs "
            "for 4 s per run; each report is named after its index.",
            "",
            "| display clients | median (ms) | 99th percentile (ms) | max (ms) | frames measured |",
            "|---|---|---|---|---|",
        ]
        for clients, resultats in latences.items():
            lignes.append(
                f"| {clients} | {mediane([r['mediane_us'] for r in resultats]) / 1000:.2f} "
                f"| {mediane([r['p99_us'] for r in resultats]) / 1000:.2f} "
                f"| {mediane([r['max_us'] for r in resultats]) / 1000:.2f} "
                f"| {int(sum(r['echantillons'] for r in resultats))} of {int(sum(r['attendus'] for r in resultats))} |")
        lignes.append("")

    if charges:
        lignes += [
            "## Relay under load",
            "",
            "251 display clients, the default limit being 256: 201 read every frame and are measured as above, "
            "50 never read (4 KiB receive buffers); 200 reports/s with 10 VMs for 10 s per run. Resident memory of "
            "the collector (VmRSS) once started, at its highest during the run, and 3 s after every client has gone.",
            "",
            "| median (ms) | 99th percentile (ms) | max (ms) | frames measured | clients cut off | RSS before (MiB) "
            "| RSS during, max (MiB) | RSS after (MiB) |",
            "|---|---|---|---|---|---|---|---|",
        ]
        for r in charges:
            lignes.append(
                f"| {r['mediane_us'] / 1000:.2f} | {r['p99_us'] / 1000:.2f} | {r['max_us'] / 1000:.2f} "
                f"| {int(r['echantillons'])} of {int(r['attendus'])} | {r['coupes']} "
                f"| {r['rss_avant'] / 2**20:.1f} | {r['rss_pendant'] / 2**20:.1f} | {r['rss_apres'] / 2**20:.1f} |")
        lignes.append("")

    toutes = set(analyseur_parties_par_defaut().split(","))
    partiel = not toutes.issubset(set(arguments.parties.split(",")))
    provenance = (f"_Measured alone on {horodatage.strftime('%Y-%m-%d %H:%M')} UTC, collecteur `{infos['version']}`; "
                  f"other busy processes at start: {', '.join(lourds_avant) or 'none'}._")
    fusionner(arguments.sortie, "\n".join(lignes), provenance if partiel else None)


def analyseur_parties_par_defaut():
    return "debit,cpu,flotte,latence,charge"


def fusionner(chemin, texte, provenance):
    """Writes the sections just measured; a section of the file that this run did not measure (another
    program's, or a part left out with --parties) stays as it was. A partial run keeps the file's header
    and says when each of its sections was measured."""
    def sections(contenu):
        resultat = {}
        ordre = []
        courant = None
        for ligne in contenu.split("\n"):
            if ligne.startswith("## ") or courant is None:
                courant = ligne if ligne.startswith("## ") else ""
                ordre.append(courant)
                resultat[courant] = []
            resultat[courant].append(ligne)
        return ordre, resultat

    nouvel_ordre, nouvelles = sections(texte)
    try:
        with open(chemin) as fichier:
            ancien_ordre, anciennes = sections(fichier.read())
    except FileNotFoundError:
        ancien_ordre, anciennes = [], {}
    if provenance and "" in anciennes:
        nouvelles[""] = anciennes[""]
        for titre in nouvel_ordre:
            if titre:
                nouvelles[titre][2:2] = [provenance, ""]
    ordre = list(nouvel_ordre)
    for titre in ancien_ordre:
        if titre not in nouvelles:
            ordre.append(titre)
    with open(chemin, "w") as fichier:
        fichier.write("\n".join("\n".join(nouvelles.get(titre) or anciennes[titre]) for titre in ordre))


if __name__ == "__main__":
    main()
