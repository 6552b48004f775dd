#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The dashboard in a real headless Chromium, against the real chain:
collector, simulated agents (collecteur-agent) and collecteur-web.

Checks that the fleet table lists the simulated hosts with values, that a
host's page draws its charts, its history with the hour in progress and its
30 days (from an archive the real collecteur-archive made), that the charts'
time reads in French (day/month/year, 24-hour clock), that a click on a VM
draws its own charts and that the CSV link gives what they show, that a VM
named like a script shows as text and runs nothing, that alert rules
firing at once show in the banner's counts, the alerts view, the marks of
the fleet table and a host's page, with a host named like HTML as text, and
that an ended alert is in the 30 days' history, that the page recovers
when collecteur-web restarts, that its icon is served, and that the page
breaks no rule of its Content-Security-Policy. Saves screenshots in the current directory (the
build folder under CTest)."""

import argparse
import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("python3-selenium absent (scripts/install-deps.sh essais l'installe)", file=sys.stderr)
    sys.exit(77)

NOM_PIEGE = "<img src=x onerror=alert(1)>"
NOM_HOTE_PIEGE = "<b>hv</b><img src=x onerror=alert(3)>"
# ChargeEssai fires at once for every host, critical for hv-piege's 95 %;
# ReseauEssai only for the HTML-named host's first report, and ends on its
# next; that host's motherboard temperature is impossible (unknown); hv-lab-03 is in
# maintenance.
REGLES = """regle ChargeEssai hyperviseur cpu >= 0 90
regle ReseauEssai hyperviseur network >= 500 -
maintenance hv-lab-03 du 2000-01-01 00:00 au 2099-12-31 23:59
"""
FORMES_GRAVITES = (("critique", "critique", "critiques"), ("avertissement", "avertissement", "avertissements"),
                   ("inconnu", "inconnue", "inconnues"))
PORT_AFFICHAGE = 56000
GENERATEUR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench", "archive",
                          "generer-sauvegarde.py")


def port_libre(type_socket=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, type_socket) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def attendre(condition, delai, message):
    limite = time.monotonic() + delai
    while time.monotonic() < limite:
        try:
            if condition():
                return
        except Exception:
            pass
        time.sleep(0.2)
    raise AssertionError(message)


def accepte(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Chaine:
    def __init__(self, args, dossier):
        self.args = args
        self.dossier = dossier
        self.processus = []
        self.port_udp = port_libre(socket.SOCK_DGRAM)
        self.port_web = port_libre()
        self.web = None
        self.fin_hote_piege = threading.Event()
        self.hote_piege = None

    def lancer(self, commande, **options):
        p = subprocess.Popen(commande, cwd=self.dossier, stdout=subprocess.DEVNULL,
                             stderr=open(os.path.join(self.dossier, os.path.basename(commande[0]) + ".log"), "ab"),
                             **options)
        self.processus.append(p)
        return p

    def archiver(self):
        """30 days of hv-lab-01 and hv-lab-02, a report a minute, in daily
        backup files rolled into the archive, all but the last deleted."""
        # Half past an hour: the raw file left holds rows after the archive's last whole hour.
        fin = int(time.time()) // 3600 * 3600 - 5400
        for jour in range(31):
            subprocess.run([sys.executable, GENERATEUR, "--hyperviseurs=2", "--vms=2", "--rapports=1440",
                            "--intervalle=60", "--nom=hv-lab-%02d", "--fin=%d" % (fin - jour * 86400), self.dossier],
                           check=True, stdout=subprocess.DEVNULL)
        subprocess.run([self.args.archive, "--une-fois", "--sauvegardes=" + self.dossier, "--brut=1j",
                        "--espace-libre=0"], check=True, stderr=subprocess.DEVNULL)

    def demarrer(self):
        self.archiver()
        self.lancer([self.args.collecteur, "--port=%d" % self.port_udp])
        attendre(lambda: accepte(PORT_AFFICHAGE), 20, "le collecteur n'écoute pas")
        self.demarrer_web()
        self.lancer([self.args.agent, "--port=%d" % self.port_udp, "--hyperviseurs=3", "--vms=4", "--rythme=2",
                     "--silencieux"])

    def demarrer_web(self):
        regles = os.path.join(self.dossier, "alertes.regles")
        with open(regles, "w") as f:
            f.write(REGLES)
        self.web = self.lancer([self.args.web, "--ecoute=127.0.0.1:%d" % self.port_web,
                                "--sauvegardes=%s" % self.dossier, "--regles=" + regles])
        attendre(lambda: accepte(self.port_web), 20, "collecteur-web n'écoute pas")

    def arreter_web(self):
        self.web.send_signal(signal.SIGTERM)
        assert self.web.wait(20) == 0, "collecteur-web ne s'arrête pas proprement"

    def envoyer_piege(self, sequence):
        rapport = {"name": "hv-piege", "time": int(time.time()), "cpu": 95.5, "ram": 20, "disk": 75,
                   "network": 3, "cputemp": 85,
                   "vms": [{"name": NOM_PIEGE, "uuid": "\"><script>alert(2)</script>", "state": 1, "cpu": 1,
                            "ram": 1024, "maxram": 2048, "network": 0.1}]}
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.9", 0))
            s.sendto(struct.pack(">I", sequence) + json.dumps(rapport).encode("latin-1"), ("127.0.0.1", self.port_udp))

    def demarrer_hote_piege(self):
        """The HTML-named host, a report a second until the end, so that it
        never goes silent; its first report's network fires ReseauEssai."""
        def envoyer():
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                s.bind(("127.0.0.10", 0))
                sequence = 0
                while not self.fin_hote_piege.is_set():
                    sequence += 1
                    rapport = {"name": NOM_HOTE_PIEGE, "time": int(time.time()), "cpu": 30, "ram": 20, "disk": 40,
                               "network": 800 if sequence == 1 else 3, "cputemp": 50, "mbtemp": 3892314, "vms": []}
                    s.sendto(struct.pack(">I", sequence) + json.dumps(rapport).encode("latin-1"),
                             ("127.0.0.1", self.port_udp))
                    self.fin_hote_piege.wait(1)
        self.hote_piege = threading.Thread(target=envoyer, daemon=True)
        self.hote_piege.start()

    def arreter(self):
        self.fin_hote_piege.set()
        if self.hote_piege is not None:
            self.hote_piege.join(5)
        for p in reversed(self.processus):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(30)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def navigateur(dossier, *autres_drapeaux):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for drapeau in autres_drapeaux + ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--window-size=1280,900",
                    "--user-data-dir=" + os.path.join(dossier, "profil")):
        options.add_argument(drapeau)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def pixels_dessines(pilote, selecteur):
    return pilote.execute_script("""
        let n = 0;
        for (const c of document.querySelectorAll(arguments[0])) {
          const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
          for (let i = 3; i < d.length; i += 4) if (d[i] !== 0) n++;
        }
        return n;""", selecteur)


def texte(pilote, ident):
    return pilote.find_element(By.ID, ident).text


def points_affiches(pilote):
    etat = texte(pilote, "historique-etat")
    return int(etat.split(" ")[0]) if "point(s)" in etat else 0


def aucune_alerte(pilote):
    try:
        pilote.switch_to.alert
    except NoAlertPresentException:
        return True
    return False


def libelles_temps(pilote, conteneur):
    """The time series' legend label of every chart in the container."""
    return pilote.execute_script(
        "return Array.from(document.querySelectorAll(arguments[0] + ' .u-legend tr.u-series:first-child th'),"
        " th => th.innerText.trim());", conteneur)


def dates_survolees(pilote, conteneur):
    """The legend's date under the pointer, moved across the first chart."""
    zone = pilote.find_element(By.CSS_SELECTOR, conteneur + " .u-over")
    largeur = zone.size["width"]
    dates = []
    for i in range(1, 10):
        ActionChains(pilote).move_to_element_with_offset(zone, int(largeur * (i / 10 - 0.5)), 0).perform()
        dates.append(pilote.find_element(By.CSS_SELECTOR, conteneur + " .u-legend tr.u-series:first-child td.u-value")
                     .text)
    return dates


def lire_json(url):
    with urllib.request.urlopen(url, timeout=10) as reponse:
        return json.load(reponse)


def bandeau_attendu(corps):
    """The banner for an /api/alertes body: the counts by severity of the
    alerts not silenced, then the silenced ones."""
    actives = [a for a in corps["alertes"] if not a["silence"]]
    parties = []
    for gravite, singulier, pluriel in FORMES_GRAVITES:
        n = sum(1 for a in actives if a["severity"] == gravite)
        if n:
            parties.append("%d %s" % (n, pluriel if n > 1 else singulier))
    silencieuses = len(corps["alertes"]) - len(actives)
    if silencieuses:
        parties.append("%d %s" % (silencieuses, "silencieuses" if silencieuses > 1 else "silencieuse"))
    return " · ".join(parties) or "Aucune alerte"


def lignes_alertes(pilote, table):
    """Each row of an alerts table as its cells' text, read in one script."""
    return pilote.execute_script(
        "return Array.from(document.querySelectorAll(arguments[0] + ' tbody tr'),"
        " tr => Array.from(tr.cells, td => td.innerText));", table)


def verifier_alertes(pilote, attente, base, captures):
    """The banner, the fleet's marks, the alerts view and its history, a host's own alerts."""
    attente.until(lambda p: texte(p, "bandeau-alertes") == bandeau_attendu(lire_json(base + "api/alertes")))
    attente.until(lambda p: re.fullmatch(r"[12] critiques? · [2-9] avertissements · 1 inconnue · 1 silencieuse",
                                         texte(p, "bandeau-alertes")))

    # The fleet's rows: the worst severity as a class, a title and a sign before the name.
    marques = pilote.execute_script("""
        const lignes = {};
        for (const tr of document.querySelectorAll('#table-flotte tbody tr')) {
          const nom = tr.querySelector('td.nom');
          lignes[tr.dataset.nom] = [tr.className, tr.title, getComputedStyle(nom, '::before').content, nom.innerText];
        }
        return lignes;""")
    for nom, gravite, signe_attendu in (("hv-lab-01", "avertissement", '"! "'), ("hv-lab-02", "avertissement", '"! "'),
                                        (NOM_HOTE_PIEGE, "avertissement", '"! "'), ("hv-piege", "critique", '"‼ "')):
        classe, titre, signe, affiche = marques[nom]
        assert "alerte-" + gravite in classe.split() and signe == signe_attendu, (nom, marques[nom])
        assert re.fullmatch(r"\d+ alertes? actives?, la pire : " + gravite, titre), (nom, marques[nom])
        assert affiche == nom, (nom, marques[nom])
    assert "alerte-silence" in marques["hv-lab-03"][0].split() and marques["hv-lab-03"][2] == '"~ "', \
        marques["hv-lab-03"]
    assert not pilote.find_elements(By.CSS_SELECTOR, "body img, body script"), "un nom a créé un élément"

    assert pilote.execute_script("return alertesParLeFlux;"), "les alertes ne viennent pas par le flux"

    # The banner opens the alerts view.
    pilote.find_element(By.ID, "bandeau-alertes").click()
    attente.until(lambda p: p.find_element(By.ID, "vue-alertes").is_displayed())
    assert pilote.current_url.endswith("#/alertes"), pilote.current_url
    assert not pilote.find_element(By.ID, "vue-flotte").is_displayed()
    attente.until(lambda p: len(lignes_alertes(p, "#table-alertes")) >= 6)
    lignes = lignes_alertes(pilote, "#table-alertes")
    par_hote = {(l[0], l[2]): l for l in lignes}
    charge = par_hote[("hv-lab-01", "ChargeEssai")]
    assert charge[1] == "–" and charge[3] == "avertissement" and charge[7] == "non", charge
    assert re.fullmatch(r"\d\d/\d\d/\d{4} ([01]\d|2[0-3]):\d\d:\d\d", charge[4]), charge
    assert float(charge[5]) >= 0 and charge[6] == "0", charge
    assert par_hote[("hv-lab-03", "ChargeEssai")][7] == "oui", par_hote[("hv-lab-03", "ChargeEssai")]
    piege = par_hote[(NOM_HOTE_PIEGE, "ChargeEssai")]
    assert piege[5] == "30" and piege[7] == "non", piege
    assert par_hote[(NOM_HOTE_PIEGE, "HyperviseurTemperatureCarteMere")][3] == "inconnue", lignes
    # The worst first.
    assert lignes[0][3] == "critique" and lignes[-1][7] == "oui", lignes
    lien = pilote.execute_script(
        "return Array.from(document.querySelectorAll('#table-alertes tbody td.nom a'))"
        ".find(a => a.innerText === arguments[0]).getAttribute('href');", NOM_HOTE_PIEGE)
    assert lien == "#/h/" + urllib.parse.quote(NOM_HOTE_PIEGE, safe="!'()*"), lien
    assert not pilote.find_elements(By.CSS_SELECTOR, "body img, body script"), "un nom a créé un élément"
    assert aucune_alerte(pilote), "un script a tourné"

    # The 30 days: ReseauEssai fired on the HTML-named host's first report and ended on the next.
    assert pilote.find_element(By.CSS_SELECTOR, "#vue-alertes h3").text == "Historique (30 jours)"
    attente.until(lambda p: texte(p, "episodes-etat") not in ("", "lecture de l'historique…"))
    attente.until(lambda p: [l for l in lignes_alertes(p, "#table-episodes")
                             if l[0] == NOM_HOTE_PIEGE and l[2] == "ReseauEssai" and l[5] != "en cours"])
    episodes = lignes_alertes(pilote, "#table-episodes")
    fini = [l for l in episodes if l[0] == NOM_HOTE_PIEGE and l[2] == "ReseauEssai"][0]
    assert all(re.fullmatch(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d", d) for d in fini[4:6]), fini
    assert [l for l in episodes if l[0] == "hv-lab-01" and l[2] == "ChargeEssai" and l[5] == "en cours"], episodes
    time.sleep(0.5)
    pilote.save_screenshot(os.path.join(captures, "capture-alertes.png"))

    # The host's page, from its link, lists its own alerts.
    pilote.execute_script(
        "Array.from(document.querySelectorAll('#table-alertes tbody td.nom a'))"
        ".find(a => a.innerText === arguments[0]).click();", NOM_HOTE_PIEGE)
    attente.until(lambda p: p.find_element(By.ID, "titre-hote").text == NOM_HOTE_PIEGE)
    attente.until(lambda p: [l for l in lignes_alertes(p, "#table-alertes-hote") if l[1] == "ChargeEssai"])
    assert all(l[1] != "ReseauEssai" for l in lignes_alertes(pilote, "#table-alertes-hote"))
    pilote.save_screenshot(os.path.join(captures, "capture-alertes-hote.png"))
    assert not pilote.find_elements(By.CSS_SELECTOR, "body img, body script"), "un nom a créé un élément"
    assert aucune_alerte(pilote), "un script a tourné"


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--collecteur", required=True)
    analyse.add_argument("--agent", required=True)
    analyse.add_argument("--web", required=True)
    analyse.add_argument("--archive", required=True)
    analyse.add_argument("--captures", default=".")
    args = analyse.parse_args()

    with tempfile.TemporaryDirectory() as dossier:
        chaine = Chaine(args, dossier)
        pilote = None
        try:
            chaine.demarrer()
            chaine.demarrer_hote_piege()
            for sequence in range(1, 4):
                chaine.envoyer_piege(sequence)
                time.sleep(0.3)
            base = "http://127.0.0.1:%d/" % chaine.port_web
            pilote = navigateur(dossier)
            attente = WebDriverWait(pilote, 30, poll_frequency=0.2)

            # The fleet table: the simulated hosts, with values.
            pilote.get(base)
            attente.until(lambda p: p.find_element(By.ID, "etat").text == "en direct")
            for nom in ("hv-lab-01", "hv-lab-02", "hv-lab-03", "hv-piege"):
                attente.until(lambda p: p.find_elements(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='%s']" % nom))
            ligne = pilote.find_element(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='hv-lab-01']")
            cellules = [td.text for td in ligne.find_elements(By.TAG_NAME, "td")]
            assert cellules[0] == "hv-lab-01", cellules
            for valeur in cellules[2:6]:
                float(valeur)
            assert cellules[8].endswith("/ 4"), cellules
            piege = pilote.find_element(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='hv-piege']")
            assert "n3" in piege.find_elements(By.TAG_NAME, "td")[2].get_attribute("class"), "95 % de CPU sans couleur"
            # The worst host first, on request.
            pilote.find_element(By.ID, "pires").click()
            premiere = pilote.find_element(By.CSS_SELECTOR, "#table-flotte tbody tr:not([hidden])")
            assert premiere.get_attribute("data-nom") == "hv-piege", premiere.get_attribute("data-nom")
            pilote.find_element(By.CSS_SELECTOR, "th[data-cle='nom']").click()
            time.sleep(1.5)
            pilote.save_screenshot(os.path.join(args.captures, "capture-flotte.png"))

            verifier_alertes(pilote, attente, base, args.captures)
            pilote.get(base)
            piege = attente.until(
                lambda p: p.find_element(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='hv-piege']"))

            # The script-like VM name: shown as text, no element made, nothing run.
            piege.click()
            attente.until(lambda p: p.find_elements(By.CSS_SELECTOR, "#table-vms tbody tr"))
            nom_vm = pilote.execute_script("return document.querySelector('#table-vms tbody tr td').innerText;")
            assert nom_vm == NOM_PIEGE, nom_vm
            assert not pilote.find_elements(By.CSS_SELECTOR, "main img, main script"), "le nom a créé un élément"
            assert aucune_alerte(pilote), "un script a tourné"
            assert pilote.find_element(By.ID, "titre-hote").text == "hv-piege"

            # A simulated host's page draws its live charts and its last hour,
            # which only the collector's journal holds yet.
            pilote.get(base + "#/h/hv-lab-02")
            attente.until(lambda p: len(p.find_elements(By.CSS_SELECTOR, "#graphes-direct canvas")) == 3)
            attente.until(lambda p: pixels_dessines(p, "#graphes-direct canvas") > 500)
            attente.until(lambda p: "heure en cours" in texte(p, "historique-etat") and points_affiches(p) > 0)
            attente.until(lambda p: pixels_dessines(p, "#graphes-historique canvas") > 500)
            attente.until(lambda p: len(p.find_elements(By.CSS_SELECTOR, "#table-vms tbody tr")) == 4)
            # The charts in French: "Heure", day/month/year and a 24-hour clock,
            # in the legend under the pointer and on the time axis.
            assert libelles_temps(pilote, "#graphes-direct") == ["Heure"] * 3, libelles_temps(pilote, "#graphes-direct")
            assert libelles_temps(pilote, "#graphes-historique") == ["Heure"] * 3, \
                libelles_temps(pilote, "#graphes-historique")
            dates = dates_survolees(pilote, "#graphes-historique")
            assert all(re.fullmatch(r"\d\d/\d\d/\d{4} ([01]\d|2[0-3]):\d\d:\d\d", d) for d in dates), dates
            assert {time.strftime("%d/%m/%Y"), time.strftime("%d/%m/%Y", time.localtime(time.time() - 3600))} \
                & {d.split(" ")[0] for d in dates}, dates
            libelles = pilote.execute_script("""
                const u = graphes.historique[0];
                const t = new Date(2026, 0, 15, 18, 54, 7).getTime() / 1000;
                return [u.series[0].value(u, t, 0, 0), u.axes[0].values(u, [t], 0, 50, 60),
                        u.axes[0].values(u, [t, t + 3600], 0, 50, 3600), u.axes[0].values(u, [t], 0, 50, 86400),
                        u.axes[0].values(u, [t], 0, 50, 28 * 86400)];""")
            assert libelles == ["15/01/2026 18:54:07", ["18:54\n15/1/26"], ["18:54\n15/1/26", "19:54"],
                                ["15/1\n2026"], ["janv.\n2026"]], libelles
            # Read in one script: the live table is redrawn as reports come,
            # and an element found a moment before may be gone already.
            etats = set(pilote.execute_script(
                "return Array.from(document.querySelectorAll('#table-vms tbody tr'), tr => tr.cells[1].innerText);"))
            assert etats <= set(["en marche", "en pause", "arrêtée"]), etats
            time.sleep(2)
            pilote.save_screenshot(os.path.join(args.captures, "capture-hyperviseur.png"))

            # 30 days: the archive's hourly rows, then the raw file left and the hour in progress.
            pilote.find_element(By.CSS_SELECTOR, "#periodes button[data-duree='2592000']").click()
            attente.until(lambda p: "archive" in texte(p, "historique-etat")
                          and "heure en cours" in texte(p, "historique-etat"))
            etat = texte(pilote, "historique-etat")
            assert "résolution : 1 h · sources : archive, fichiers bruts, heure en cours" in etat, etat
            assert points_affiches(pilote) > 600, etat
            attente.until(lambda p: pixels_dessines(p, "#graphes-historique canvas") > 3000)
            pilote.execute_script("document.getElementById('periodes').scrollIntoView();")
            time.sleep(0.5)
            pilote.save_screenshot(os.path.join(args.captures, "capture-historique.png"))

            # A VM's own charts, on a click in the host's table; the CSV link
            # gives the points they draw.
            nom_vm = pilote.execute_script("const tr = document.querySelector('#table-vms tbody tr');"
                                           "const nom = tr.dataset.nom; tr.click(); return nom;")
            attente.until(lambda p: p.find_element(By.ID, "titre-vm").text == "Machine virtuelle " + nom_vm)
            assert not pilote.find_element(By.ID, "partie-hote").is_displayed()
            attente.until(lambda p: "heure en cours" in texte(p, "historique-etat")
                          and len(p.find_elements(By.CSS_SELECTOR, "#graphes-historique canvas")) == 3)
            attente.until(lambda p: pixels_dessines(p, "#graphes-historique canvas") > 500)
            assert libelles_temps(pilote, "#graphes-historique") == ["Heure"] * 3, \
                libelles_temps(pilote, "#graphes-historique")
            lien = pilote.find_element(By.ID, "export-csv").get_property("href")
            assert "format=csv" in lien and "vm=" in lien, lien
            with urllib.request.urlopen(lien, timeout=30) as reponse:
                assert reponse.headers["Content-Disposition"].startswith("attachment; filename=\"historique_hv-lab-02_"), \
                    reponse.headers["Content-Disposition"]
                lignes = reponse.read().decode("utf-8").splitlines()
            assert lignes[0] == "time,cpu (%),ram (KiB),maxram (KiB),network (Mbit/s)", lignes[0]
            with urllib.request.urlopen(lien.replace("&format=csv", ""), timeout=30) as reponse:
                points = len(json.load(reponse)["vms"][0]["t"])
            assert len(lignes) - 1 == points > 0, (len(lignes), points)
            pilote.find_element(By.ID, "lien-hote").click()
            attente.until(lambda p: p.find_element(By.ID, "partie-hote").is_displayed())

            # collecteur-web restarts: the page says so, then comes back live.
            pilote.get(base)
            attente.until(lambda p: p.find_element(By.ID, "etat").text == "en direct")
            chaine.arreter_web()
            attente.until(lambda p: p.find_element(By.ID, "etat").text != "en direct")
            chaine.demarrer_web()
            attente.until(lambda p: p.find_element(By.ID, "etat").text == "en direct")
            attente.until(lambda p: p.find_elements(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='hv-lab-03']"))

            # The icon, linked from the page and at the address browsers try
            # on their own, is an image.
            icones = pilote.execute_async_script("""
                const fini = arguments[arguments.length - 1];
                Promise.all([document.querySelector("link[rel='icon']").href, "/favicon.ico"].map(
                    url => fetch(url).then(r => [r.status, r.headers.get("Content-Type")])))
                  .then(fini, e => fini(String(e)));""")
            assert icones == [[200, "image/svg+xml"]] * 2, icones

            # Nothing was refused by the Content-Security-Policy, and the icon
            # was never missing.
            journal = [e["message"] for e in pilote.get_log("browser")]
            refus = [m for m in journal if "Content Security Policy" in m or "Refused" in m]
            assert not refus, refus
            icone_absente = [m for m in journal if "favicon" in m]
            assert not icone_absente, icone_absente
            assert aucune_alerte(pilote), "un script a tourné"
            print("navigateur : tout est conforme")
        finally:
            if pilote is not None:
                pilote.quit()
            chaine.arreter()


if __name__ == "__main__":
    main()
