// SPDX-License-Identifier: MIT
// The alerts the server judges: the banner under the header, the alerts
// view (#/alertes) with its 30 days of episodes, the mark of each host in
// the fleet table and a host's own alerts on its page. Like the rest of the
// page, names are only ever written as text.
"use strict";

// Worst first; also the order of the banner.
const gravites = ["critique", "avertissement", "inconnu"];
const libellesGravites = {
  critique: ["critique", "critiques"],
  avertissement: ["avertissement", "avertissements"],
  inconnu: ["inconnue", "inconnues"]
};

let alertes = null;              // the latest /api/alertes body, null until the first
let alertesParLeFlux = false;    // the stream sends them: no need to ask
let lectureHistoriqueAlertes = 0;
let clesAlertesAffichees = "";
let piresParHote = new Map();    // host -> {pire, nombre}, for the fleet's marks

function rangGravite(g) {
  const i = gravites.indexOf(g);
  return i < 0 ? gravites.length : i;
}

function pluriel(n, formes) { return n + " " + formes[n > 1 ? 1 : 0]; }

// dd/mm/yyyy hh:mm:ss, local time, as the charts' legends.
function dateHeure(ms) {
  const d = new Date(ms);
  const deux = (n) => String(n).padStart(2, "0");
  return deux(d.getDate()) + "/" + deux(d.getMonth() + 1) + "/" + d.getFullYear() + " "
    + deux(d.getHours()) + ":" + deux(d.getMinutes()) + ":" + deux(d.getSeconds());
}

function valeurAlerte(a, v) {
  if (typeof v !== "number" || !isFinite(v)) return "–";
  // That rule's value is the VM's libvirt state.
  if (a.alertname === "VmArretee" && v === Math.trunc(v)) return etatsVM[v] ?? String(v);
  return String(Math.round(v * 100) / 100);
}

function lienHote(nom, vm) {
  return "#/h/" + encodeURIComponent(nom) + (vm ? "/vm/" + encodeURIComponent(vm) : "");
}

function clesAlertes(d) {
  return d.alertes.map((a) => [a.alertname, a.hyperviseur, a.vm, a.severity, a.silence].join("\u0000"))
    .sort().join("\u0001");
}

// ---- Receiving them: from the stream once it sends them, asked for until then.

function recevoirAlertes(d) {
  alertes = d;
  piresParHote = piresAlertes(d.alertes);
  dessinerBandeau();
  dessinerFlotte();
  if (hoteOuvert !== null) dessinerAlertesHote();
  if (!$("vue-alertes").hidden) {
    dessinerVueAlertes();
    // The episodes change only when the active alerts do.
    if (clesAlertes(d) !== clesAlertesAffichees) chargerHistoriqueAlertes();
  }
}

async function demanderAlertes() {
  try {
    const r = await demander("api/alertes");
    if (!r.ok) throw new Error(r.status + " " + r.statusText);
    const d = await r.json();
    if (!alertesParLeFlux) recevoirAlertes(d);
  } catch (e) {
    console.warn("Alertes illisibles : " + e.message);
  }
}

function brancherAlertes(source) {
  source.addEventListener("alertes", (e) => {
    alertesParLeFlux = true;
    recevoirAlertes(JSON.parse(e.data));
  });
}

function demarrerAlertes() {
  demanderAlertes();
  setInterval(() => { if (!alertesParLeFlux) demanderAlertes(); }, 5000);
}

// ---- The counts.

function compter(liste) {
  const n = { critique: 0, avertissement: 0, inconnu: 0, silence: 0 };
  for (const a of liste) {
    if (a.silence) n.silence++;
    else if (a.severity in n) n[a.severity]++;
  }
  return n;
}

// The silenced ones (in a maintenance window, not notified) are counted apart.
function dessinerBandeau() {
  const b = $("bandeau-alertes");
  const n = compter(alertes.alertes);
  const parties = gravites.filter((g) => n[g] > 0).map((g) => pluriel(n[g], libellesGravites[g]));
  if (n.silence > 0) parties.push(pluriel(n.silence, ["silencieuse", "silencieuses"]));
  b.textContent = parties.length ? parties.join(" · ") : "Aucune alerte";
  const pire = gravites.find((g) => n[g] > 0);
  b.className = "bandeau " + (pire ? "alerte-" + pire : "calme");
  b.title = "Alertes actives" + (n.silence > 0 ? " ; silencieuses : en fenêtre de maintenance, non notifiées" : "")
    + (alertes.valeursImpossibles > 0 ? " ; " + alertes.valeursImpossibles + " valeur(s) impossible(s) reçue(s)" : "");
  b.hidden = false;
}

// Each host's worst active alert, its VMs' included ("silence" when all of
// them are silenced), and how many it has.
function piresAlertes(liste) {
  const pires = new Map();
  for (const a of liste) {
    const p = pires.get(a.hyperviseur) || { pire: "silence", nombre: 0 };
    p.nombre++;
    if (!a.silence && (p.pire === "silence" || rangGravite(a.severity) < rangGravite(p.pire))) p.pire = a.severity;
    pires.set(a.hyperviseur, p);
  }
  return pires;
}

function marquerLigneHote(tr, nom) {
  const p = piresParHote.get(nom);
  const pire = p ? p.pire : "";
  for (const g of [...gravites, "silence"]) tr.classList.toggle("alerte-" + g, pire === g);
  const etat = pire === "silence" ? (p?.nombre > 1 ? "toutes silencieuses" : "silencieuse") + " (maintenance)"
    : "la pire : " + (libellesGravites[pire]?.[0] ?? pire);
  const titre = p ? pluriel(p.nombre, ["alerte active", "alertes actives"]) + ", " + etat : "";
  if (tr.title !== titre) tr.title = titre;
  tr.dataset.alerte = pire;
}

// ---- The tables.

function trierAlertes(liste) {
  return [...liste].sort((a, b) => (a.silence - b.silence) || (rangGravite(a.severity) - rangGravite(b.severity))
    || (a.depuis - b.depuis) || a.hyperviseur.localeCompare(b.hyperviseur) || a.vm.localeCompare(b.vm));
}

function caseTexte(tr, texte, classe) {
  const td = document.createElement("td");
  td.textContent = texte;
  if (classe) td.className = classe;
  tr.appendChild(td);
  return td;
}

function caseLien(tr, texte, href) {
  const td = document.createElement("td");
  td.className = "nom";
  const a = document.createElement("a");
  a.href = href;
  a.textContent = texte;
  td.appendChild(a);
  tr.appendChild(td);
}

function caseGravite(tr, severity, instable) {
  const td = caseTexte(tr, (libellesGravites[severity]?.[0] ?? (severity || "–")) + (instable ? " · instable" : ""),
    "gravite alerte-" + severity);
  if (instable) td.title = "Instable : elle change souvent d'état ; ses changements ne sont plus notifiés un à un.";
}

// `avecHote`: false on a host's page, where the name is the title.
function remplirAlertes(tbody, liste, avecHote) {
  tbody.replaceChildren();
  for (const a of trierAlertes(liste)) {
    const tr = document.createElement("tr");
    tr.className = "alerte-" + a.severity + (a.silence ? " silencieuse" : "") + (a.instable ? " instable" : "");
    if (avecHote) caseLien(tr, a.hyperviseur, lienHote(a.hyperviseur));
    if (a.vm) caseLien(tr, a.vm, lienHote(a.hyperviseur, a.vm)); else caseTexte(tr, "–");
    caseTexte(tr, a.alertname);
    caseGravite(tr, a.severity, a.instable);
    caseTexte(tr, dateHeure(a.depuis)).title = "depuis " + duree(alertes.maintenant - a.depuis);
    caseTexte(tr, valeurAlerte(a, a.valeur));
    caseTexte(tr, valeurAlerte(a, a.seuil));
    caseTexte(tr, a.silence ? "oui" : "non");
    tbody.appendChild(tr);
  }
}

function dessinerVueAlertes() {
  if (!alertes) return;
  remplirAlertes($("table-alertes").tBodies[0], alertes.alertes, true);
  $("alertes-vide").hidden = alertes.alertes.length > 0;
  $("table-alertes").hidden = alertes.alertes.length === 0;
}

function dessinerAlertesHote() {
  if (!alertes) return;
  const liste = alertes.alertes.filter((a) => a.hyperviseur === hoteOuvert
    && (vmOuverte === null || a.vm === vmOuverte));
  remplirAlertes($("table-alertes-hote").tBodies[0], liste, false);
  $("table-alertes-hote").hidden = liste.length === 0;
  $("alertes-hote-vide").hidden = liste.length > 0;
  $("alertes-hote-vide").textContent = vmOuverte === null ? "Aucune alerte active pour cet hyperviseur ni ses VM."
    : "Aucune alerte active pour cette VM.";
}

async function chargerHistoriqueAlertes() {
  const numero = ++lectureHistoriqueAlertes;
  if (alertes) clesAlertesAffichees = clesAlertes(alertes);
  try {
    const r = await demander("api/alertes/historique");
    if (!r.ok) throw new Error(r.status + " " + r.statusText);
    const d = await r.json();
    if (numero !== lectureHistoriqueAlertes) return;
    const tbody = $("table-episodes").tBodies[0];
    tbody.replaceChildren();
    for (const e of d.episodes) {
      const tr = document.createElement("tr");
      tr.className = "alerte-" + e.severity + (e.silence ? " silencieuse" : "") + (e.fin === null ? " en-cours" : "");
      caseLien(tr, e.hyperviseur, lienHote(e.hyperviseur));
      if (e.vm) caseLien(tr, e.vm, lienHote(e.hyperviseur, e.vm)); else caseTexte(tr, "–");
      caseTexte(tr, e.alertname);
      caseGravite(tr, e.severity, false);
      caseTexte(tr, dateHeure(e.debut));
      caseTexte(tr, e.fin === null ? "en cours" : dateHeure(e.fin));
      caseTexte(tr, duree((e.fin ?? d.maintenant) - e.debut));
      caseTexte(tr, e.silence ? "oui" : "non");
      tbody.appendChild(tr);
    }
    $("table-episodes").hidden = d.episodes.length === 0;
    $("episodes-etat").textContent = d.episodes.length
      ? pluriel(d.episodes.length, ["épisode", "épisodes"]) + " sur " + d.jours + " jours, le plus récent d'abord."
      : "Aucune alerte sur les " + d.jours + " derniers jours.";
  } catch (e) {
    if (numero === lectureHistoriqueAlertes) {
      $("table-episodes").hidden = true;
      $("episodes-etat").textContent = "Historique illisible : " + e.message;
    }
  }
}

function ouvrirVueAlertes() {
  dessinerVueAlertes();
  $("episodes-etat").textContent = "lecture de l'historique…";
  chargerHistoriqueAlertes();
}
