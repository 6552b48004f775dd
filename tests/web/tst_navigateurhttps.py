#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The dashboard over HTTPS, with a users file, in a real headless Chromium,
against the real collector and simulated agents.

The certificate (openssl, EC P-256, for IP 127.0.0.1) and the user's
yescrypt hash are made here. Chromium opens the page with the user's name
and password in the address and trusts that certificate alone (by its
public key); the fleet table must fill with the simulated hosts and a
host's page draw its charts, so the page's own requests and its live
stream log in too, and nothing breaks the Content-Security-Policy. Without
credentials, or with a wrong password, the same address answers 401."""

import argparse
import base64
import hashlib
import os
import secrets
import shutil
import ssl
import subprocess
import sys
import tempfile
import urllib.error
import urllib.parse
import urllib.request
import warnings

# The other test's helpers are imported from the source tree: leave no cache there.
sys.dont_write_bytecode = True
from tst_navigateur import PORT_AFFICHAGE, Chaine, accepte, attendre, navigateur, texte

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

UTILISATEUR = "astreinte"
MOT_DE_PASSE = "ouvre-toi sésame"
ALPHABET_CRYPT = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
HOTES = ("hv-lab-01", "hv-lab-02", "hv-lab-03")


def empreinte(mot_de_passe):
    """A yescrypt hash, else bcrypt, by libcrypt through Python or mkpasswd;
    None if neither can make one."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            import crypt
    except ImportError:
        crypt = None
    if crypt is not None:
        # 16 bytes of salt: the 22nd character carries only their last 2 bits.
        sel = "".join(secrets.choice(ALPHABET_CRYPT) for _ in range(21)) + secrets.choice(ALPHABET_CRYPT[:4])
        for reglage in ("$y$j9T$" + sel, crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=32)):
            resultat = crypt.crypt(mot_de_passe, reglage)
            if resultat and resultat.startswith(reglage[:4]):
                return resultat
    if shutil.which("mkpasswd"):
        fait = subprocess.run(["mkpasswd", "-m", "yescrypt", "--stdin"], input=mot_de_passe.encode("utf-8"),
                              capture_output=True)
        if fait.returncode == 0 and fait.stdout.startswith(b"$y$"):
            return fait.stdout.decode("ascii").strip()
    return None


def certificat(dossier):
    """The certificate and key files, and the base64 SHA-256 of the
    certificate's public key, as Chromium names a key to trust."""
    cert, cle = os.path.join(dossier, "certificat.pem"), os.path.join(dossier, "certificat-cle.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-days", "2", "-nodes", "-keyout", cle, "-out", cert, "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    publique = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-pubkey"], check=True,
                              capture_output=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=publique, check=True,
                         capture_output=True).stdout
    return cert, cle, base64.b64encode(hashlib.sha256(der).digest()).decode("ascii")


class ChaineHttps(Chaine):
    """The collector, collecteur-web over HTTPS with users, and the agents;
    no archive nor alert rules: the other test has those."""

    def demarrer_https(self, cert, cle, utilisateurs):
        self.lancer([self.args.collecteur, "--port=%d" % self.port_udp])
        attendre(lambda: accepte(PORT_AFFICHAGE), 20, "le collecteur n'écoute pas")
        self.web = self.lancer([self.args.web, "--ecoute=127.0.0.1:%d" % self.port_web,
                                "--sauvegardes=%s" % self.dossier, "--tls-certificat=" + cert, "--tls-cle=" + cle,
                                "--utilisateurs=" + utilisateurs])
        attendre(lambda: accepte(self.port_web), 20, "collecteur-web n'écoute pas")
        self.lancer([self.args.agent, "--port=%d" % self.port_udp, "--hyperviseurs=3", "--vms=4", "--rythme=2",
                     "--silencieux"])


def refus(url, contexte, identifiants=None):
    """The status and WWW-Authenticate of a request expected to be turned down."""
    requete = urllib.request.Request(url)
    if identifiants is not None:
        requete.add_header("Authorization", "Basic " + base64.b64encode(identifiants.encode("utf-8")).decode("ascii"))
    try:
        with urllib.request.urlopen(requete, timeout=10, context=contexte) as reponse:
            return reponse.status, None
    except urllib.error.HTTPError as erreur:
        return erreur.code, erreur.headers.get("WWW-Authenticate")


def main():
    analyse = argparse.ArgumentParser()
    analyse.add_argument("--collecteur", required=True)
    analyse.add_argument("--agent", required=True)
    analyse.add_argument("--web", required=True)
    analyse.add_argument("--captures", default=".")
    args = analyse.parse_args()

    if not shutil.which("openssl"):
        print("openssl absent (scripts/install-deps.sh essais l'installe)", file=sys.stderr)
        sys.exit(77)
    ligne_empreinte = empreinte(MOT_DE_PASSE)
    if ligne_empreinte is None:
        print("ni crypt ni mkpasswd pour faire une empreinte yescrypt ou bcrypt", file=sys.stderr)
        sys.exit(77)

    with tempfile.TemporaryDirectory() as dossier:
        cert, cle, empreinte_cle = certificat(dossier)
        utilisateurs = os.path.join(dossier, "utilisateurs")
        with open(utilisateurs, "w", encoding="utf-8") as f:
            f.write("%s:%s\n" % (UTILISATEUR, ligne_empreinte))
        chaine = ChaineHttps(args, dossier)
        pilote = None
        try:
            chaine.demarrer_https(cert, cle, utilisateurs)
            base = "https://127.0.0.1:%d/" % chaine.port_web

            contexte = ssl.create_default_context(cafile=cert)
            statut, defi = refus(base, contexte)
            assert statut == 401 and defi is not None and defi.startswith('Basic realm="collecteur"'), (statut, defi)
            statut, defi = refus(base, contexte, UTILISATEUR + ":faux")
            assert statut == 401 and defi is not None, (statut, defi)

            pilote = navigateur(dossier, "--ignore-certificate-errors-spki-list=" + empreinte_cle)
            attente = WebDriverWait(pilote, 30, poll_frequency=0.2)
            pilote.get("https://%s:%s@127.0.0.1:%d/" % (urllib.parse.quote(UTILISATEUR, safe=""),
                                                        urllib.parse.quote(MOT_DE_PASSE, safe=""), chaine.port_web))

            # The live stream and the page's own requests log in.
            attente.until(lambda p: texte(p, "etat") == "en direct")
            for nom in HOTES:
                attente.until(lambda p: p.find_elements(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='%s']" % nom))
            cellules = pilote.execute_script(
                "return Array.from(document.querySelector(\"#table-flotte tbody tr[data-nom='hv-lab-01']\").cells,"
                " td => td.innerText);")
            assert cellules[0] == "hv-lab-01", cellules
            for valeur in cellules[2:6]:
                float(valeur)
            pilote.save_screenshot(os.path.join(args.captures, "capture-flotte-https.png"))

            # A host's page, from the fleet table, still at the address with
            # the credentials: its own requests draw its history.
            pilote.find_element(By.CSS_SELECTOR, "#table-flotte tbody tr[data-nom='hv-lab-02']").click()
            attente.until(lambda p: texte(p, "titre-hote") == "hv-lab-02")
            attente.until(lambda p: "heure en cours" in texte(p, "historique-etat"),
                          "l'historique ne se lit pas à l'adresse qui porte les identifiants")
            attente.until(lambda p: len(p.find_elements(By.CSS_SELECTOR, "#table-vms tbody tr")) == 4)
            statuts = pilote.execute_async_script("""
                const fini = arguments[arguments.length - 1];
                Promise.all(["api/alertes", "api/alertes/historique"].map(url => demander(url).then(r => r.status)))
                  .then(fini, e => fini(String(e)));""")
            assert statuts == [200, 200], statuts

            # The address without credentials: the browser logged in already.
            pilote.get(base + "#/h/hv-lab-03")
            attente.until(lambda p: texte(p, "etat") == "en direct")
            attente.until(lambda p: len(p.find_elements(By.CSS_SELECTOR, "#graphes-direct canvas")) == 3)
            attente.until(lambda p: "heure en cours" in texte(p, "historique-etat"))

            journal = [e["message"] for e in pilote.get_log("browser")]
            refuses = [m for m in journal if "Content Security Policy" in m or "Refused" in m]
            assert not refuses, refuses
            non_identifie = [m for m in journal if "401" in m or "credentials" in m or "certificat" in m.lower()
                             or "illisible" in m]
            assert not non_identifie, non_identifie
            print("navigateur https : tout est conforme")
        finally:
            if pilote is not None:
                pilote.quit()
            chaine.arreter()


if __name__ == "__main__":
    main()
