// SPDX-License-Identifier: MIT
// The dashboard page. Every name and value comes from the network: they are
// only ever written as text (textContent, attributes), never as HTML.
"use strict";

// The report's measures: key and unit as protocole/ClesRapport.h has them (a
// test holds the two lists together), then the page's label and colour.
const mesuresHyperviseur = [
  ["cputemp", "°C", "CPU", "--t1"],
  ["mbtemp", "°C", "Carte mère", "--t2"],
  ["cpu", "%", "CPU", "--cpu"],
  ["ram", "%", "RAM", "--ram"],
  ["disk", "%", "Disque", "--disk"],
  ["network", "Mbit/s", "Réseau", "--net"]
];
// The same for a VM; its state is a code, shown in words, never charted.
const mesuresVM = [
  ["state", "", "État", "--texte"],
  ["cpu", "%", "CPU", "--cpu"],
  ["ram", "KiB", "RAM utilisée", "--ram"],
  ["maxram", "KiB", "RAM max", "--disk"],
  ["network", "Mbit/s", "Réseau", "--net"]
];
const etatsVM = ["sans état", "en marche", "bloquée", "en pause", "en cours d'arrêt", "arrêtée", "plantée", "suspendue"];
const seuilsCharge = [50, 70, 90];
const seuilsTemperature = [60, 70, 80];

const flotte = new Map();      // name -> summary from the server
let decalage = 0;               // server clock minus this page's, ms
let connecteCollecteur = false;
let fluxOuvert = false;
let source = null;
let hoteOuvert = null;          // name of the open hypervisor, or null
let vmOuverte = null;           // name of the VM whose charts are open, or null
let periode = { secondes: 3600 }; // the history's range: the last N seconds, or {depuis, jusqua}
let lectureHistorique = 0;      // the latest request, so that an older answer is dropped
let fenetreMs = 15 * 60000;
let triFlotte = { cle: "nom", sens: 1 };
let triVMs = { cle: "nom", sens: 1 };
let vmsOuvertes = [];
let direct = null;              // {t: [], cpu: [], ...} of the open hypervisor
const graphes = { direct: [], historique: [] };

const $ = (id) => document.getElementById(id);

// A wall screen's bookmark may carry its credentials (https://nom:mot@hôte/):
// fetch turns down any URL that holds some, relative ones resolved against
// such an address included. Against the address without them, the browser
// still sends those it logged in with.
function demander(chemin) {
  return fetch(new URL(chemin, location.origin + location.pathname), { cache: "no-store" });
}

function maintenant() { return Date.now() + decalage; }

function nombre(v, decimales) {
  return typeof v === "number" && isFinite(v) ? v.toFixed(decimales) : "–";
}

function niveau(v, seuils) {
  if (typeof v !== "number") return "";
  if (v >= seuils[2]) return "n3";
  if (v >= seuils[1]) return "n2";
  if (v >= seuils[0]) return "n1";
  return "";
}

function duree(ms) {
  const s = Math.max(0, Math.round(ms / 1000));
  if (s < 60) return s + " s";
  if (s < 3600) return Math.floor(s / 60) + " min " + (s % 60) + " s";
  if (s < 86400) return Math.floor(s / 3600) + " h " + Math.floor((s % 3600) / 60) + " min";
  return Math.floor(s / 86400) + " j " + Math.floor((s % 86400) / 3600) + " h";
}

function age(h) { return maintenant() - h.recu; }
function silencieux(h) { return age(h) > 3 * Math.max(h.intervalle || 10000, 1000); }
function charge(h) {
  return Math.max(h.cpu ?? -1, h.ram ?? -1, h.disk ?? -1, ((h.cputemp ?? -100) - 60) * 5);
}

function kio(v) {
  if (typeof v !== "number") return "–";
  const gio = v / 1048576;
  return gio >= 1 ? gio.toFixed(1) + " Gio" : (v / 1024).toFixed(0) + " Mio";
}

// ---- Live link: one EventSource, reopened for the open hypervisor.

function afficherEtat() {
  const e = $("etat");
  const enDirect = fluxOuvert && connecteCollecteur;
  e.className = "etat " + (enDirect ? "en-ligne" : "hors-ligne");
  e.textContent = !fluxOuvert ? "page déconnectée, reconnexion…"
    : connecteCollecteur ? "en direct" : "collecteur injoignable : données figées";
}

function ouvrirFlux() {
  if (source) source.close();
  const url = "api/flux" + (hoteOuvert !== null ? "?hyperviseur=" + encodeURIComponent(hoteOuvert) : "");
  source = new EventSource(url);
  source.addEventListener("open", () => { fluxOuvert = true; afficherEtat(); });
  source.addEventListener("error", () => {
    fluxOuvert = false;
    afficherEtat();
    // An answer other than a stream (a server stopping) ends the browser's own retries.
    if (source.readyState === EventSource.CLOSED) setTimeout(ouvrirFlux, 3000);
  });
  source.addEventListener("instantane", (e) => {
    const d = JSON.parse(e.data);
    decalage = d.maintenant - Date.now();
    connecteCollecteur = d.connecte;
    fenetreMs = d.fenetre;
    flotte.clear();
    for (const h of d.hotes) flotte.set(h.nom, h);
    fluxOuvert = true;
    afficherEtat();
    dessinerFlotte();
    if (hoteOuvert !== null) chargerDirect();
  });
  source.addEventListener("maj", (e) => {
    const d = JSON.parse(e.data);
    decalage = d.maintenant - Date.now();
    for (const nom of d.oublies) flotte.delete(nom);
    for (const h of d.hotes) {
      flotte.set(h.nom, h);
      if (h.nom === hoteOuvert) ajouterPointDirect(h);
    }
    dessinerFlotte();
    if (hoteOuvert !== null) dessinerResume();
  });
  source.addEventListener("vms", (e) => {
    const d = JSON.parse(e.data);
    if (d.nom !== hoteOuvert) return;
    vmsOuvertes = d.vms;
    dessinerVMs();
  });
  brancherAlertes(source);
  source.addEventListener("etat", (e) => {
    connecteCollecteur = JSON.parse(e.data).connecte;
    afficherEtat();
  });
}

// ---- Sortable tables.

function brancherTri(table, tri, dessiner) {
  for (const th of table.querySelectorAll("th")) {
    th.addEventListener("click", () => {
      if (tri.cle === th.dataset.cle) tri.sens = -tri.sens;
      else { tri.cle = th.dataset.cle; tri.sens = th.dataset.cle === "nom" ? 1 : -1; }
      dessiner();
    });
  }
}

function marquerTri(table, tri) {
  for (const th of table.querySelectorAll("th")) {
    th.classList.toggle("tri-asc", th.dataset.cle === tri.cle && tri.sens > 0);
    th.classList.toggle("tri-desc", th.dataset.cle === tri.cle && tri.sens < 0);
  }
}

function comparer(a, b, sens) {
  const va = a ?? null, vb = b ?? null;
  if (va === vb) return 0;
  if (va === null) return 1;   // absent values last, whatever the direction
  if (vb === null) return -1;
  if (typeof va === "string") return sens * va.localeCompare(vb);
  return sens * (va - vb);
}

// ---- Fleet table.

const lignesFlotte = new Map();

function cellule(tr, i) {
  while (tr.children.length <= i) tr.appendChild(document.createElement("td"));
  return tr.children[i];
}

function remplir(td, texte, classe) {
  if (td.textContent !== texte) td.textContent = texte;
  td.className = classe || "";
}

function dessinerFlotte() {
  const filtre = $("filtre").value.trim().toLowerCase();
  const tbody = $("table-flotte").tBodies[0];
  for (const [nom, tr] of lignesFlotte) {
    if (!flotte.has(nom)) { tr.remove(); lignesFlotte.delete(nom); }
  }
  const valeur = (h) => {
    switch (triFlotte.cle) {
      case "age": return age(h);
      case "vms": return h.vms;
      case "charge": return (silencieux(h) ? 1000 : 0) + charge(h);
      default: return h[triFlotte.cle];
    }
  };
  const hotes = [...flotte.values()]
    .filter((h) => filtre === "" || h.nom.toLowerCase().includes(filtre))
    .sort((a, b) => comparer(valeur(a), valeur(b), triFlotte.sens) || a.nom.localeCompare(b.nom));
  const visibles = new Set(hotes.map((h) => h.nom));
  for (const [nom, tr] of lignesFlotte) tr.hidden = !visibles.has(nom);
  for (const h of hotes) {
    let tr = lignesFlotte.get(h.nom);
    if (!tr) {
      tr = document.createElement("tr");
      tr.dataset.nom = h.nom;
      tr.addEventListener("click", () => { location.hash = "#/h/" + encodeURIComponent(tr.dataset.nom); });
      lignesFlotte.set(h.nom, tr);
    }
    const silence = silencieux(h);
    tr.classList.toggle("silencieux", silence);
    marquerLigneHote(tr, h.nom);
    remplir(cellule(tr, 0), h.nom, "nom");
    remplir(cellule(tr, 1), (silence ? "silencieux, " : "") + duree(age(h)));
    remplir(cellule(tr, 2), nombre(h.cpu, 1), niveau(h.cpu, seuilsCharge));
    remplir(cellule(tr, 3), nombre(h.ram, 1), niveau(h.ram, seuilsCharge));
    remplir(cellule(tr, 4), nombre(h.disk, 1), niveau(h.disk, seuilsCharge));
    remplir(cellule(tr, 5), nombre(h.network, 1));
    remplir(cellule(tr, 6), nombre(h.cputemp, 0), niveau(h.cputemp, seuilsTemperature));
    remplir(cellule(tr, 7), nombre(h.mbtemp, 0));
    remplir(cellule(tr, 8), h.vmsActives + " / " + h.vms);
    tbody.appendChild(tr);   // moves it into sorted order
  }
  marquerTri($("table-flotte"), triFlotte);
  $("compte").textContent = hotes.length + " / " + flotte.size + " hyperviseur(s), "
    + [...flotte.values()].filter(silencieux).length + " silencieux";
}

// ---- One hypervisor.

// A chart per unit, each measure of that unit a series of its own.
const unitesAffichees = { KiB: "Kio" };
function grouper(mesures) {
  return [["Charge", "%"], ["Mémoire", "KiB"], ["Réseau", "Mbit/s"], ["Températures", "°C"]]
    .map(([titre, unite]) => {
      const u = unitesAffichees[unite] || unite;
      return [titre + " (" + u + ")",
        mesures.filter(([, v]) => v === unite).map(([cle, , libelle, variable]) => [cle, libelle + " " + u, variable])];
    })
    .filter(([, definitions]) => definitions.length > 0);
}
const groupesHote = grouper(mesuresHyperviseur);
const groupesVM = grouper(mesuresVM);

function couleur(variable) {
  return getComputedStyle(document.documentElement).getPropertyValue(variable).trim() || "#888";
}

// The charts' dates in French through uPlot's own templates: its names, and
// its table of time-axis labels by tick spacing (spacing, label, then the
// label when the year, month, day, hour, minute or second changes, and 1 to
// append those to the label), with a 24-hour clock.
const nomsDates = {
  MMMM: ["janvier", "février", "mars", "avril", "mai", "juin", "juillet", "août", "septembre", "octobre",
    "novembre", "décembre"],
  MMM: ["janv.", "févr.", "mars", "avr.", "mai", "juin", "juil.", "août", "sept.", "oct.", "nov.", "déc."],
  WWWW: ["dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"],
  WWW: ["dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."]
};
const graduationsTemps = [
  [365 * 86400, "{YYYY}", null, null, null, null, null, null, 1],
  [28 * 86400, "{MMM}", "\n{YYYY}", null, null, null, null, null, 1],
  [86400, "{D}/{M}", "\n{YYYY}", null, null, null, null, null, 1],
  [60, "{HH}:{mm}", "\n{D}/{M}/{YY}", null, "\n{D}/{M}", null, null, null, 1],
  [1, ":{ss}", "\n{D}/{M}/{YY} {HH}:{mm}", null, "\n{D}/{M} {HH}:{mm}", null, "\n{HH}:{mm}", null, 1]
];
const serieTemps = { label: "Heure", value: "{DD}/{MM}/{YYYY} {HH}:{mm}:{ss}" };

// `x`: a fixed range of the time axis, or undefined to follow the points.
function creerGraphes(conteneur, liste, series, groupes, x) {
  for (const g of liste) g.destroy();
  liste.length = 0;
  conteneur.replaceChildren();
  const axe = { stroke: couleur("--texte"), grid: { stroke: couleur("--ligne") }, ticks: { stroke: couleur("--ligne") } };
  for (const [titre, definitions] of groupes) {
    const bloc = document.createElement("div");
    bloc.className = "graphe";
    const h4 = document.createElement("h4");
    h4.textContent = titre;
    bloc.appendChild(h4);
    conteneur.appendChild(bloc);
    const largeur = Math.max(280, bloc.clientWidth || conteneur.clientWidth || 400);
    const options = {
      width: largeur, height: 200,
      fmtDate: (modele) => uPlot.fmtDate(modele, nomsDates),
      series: [serieTemps, ...definitions.map(([, nom, v]) => ({ label: nom, stroke: couleur(v), width: 1.5, spanGaps: false }))],
      axes: [{ ...axe, values: graduationsTemps }, axe],
      legend: { live: true },
    };
    if (x) options.scales = { x: { time: true, range: x } };
    const donnees = [series.t || [], ...definitions.map(([cle]) => series[cle] || [])];
    liste.push(new uPlot(options, donnees, bloc));
  }
}

function majGraphes(liste, series) {
  groupesHote.forEach(([, definitions], i) => {
    if (liste[i]) liste[i].setData([series.t, ...definitions.map(([cle]) => series[cle])]);
  });
}

function ajouterPointDirect(h) {
  if (!direct) return;
  const t = typeof h.time === "number" ? h.time : h.recu / 1000;
  if (direct.t.length && t <= direct.t[direct.t.length - 1]) return;
  direct.t.push(t);
  for (const [cle] of mesuresHyperviseur) direct[cle].push(h[cle] ?? null);
  const limite = t - fenetreMs / 1000;
  while (direct.t.length && direct.t[0] < limite) {
    for (const cle of Object.keys(direct)) direct[cle].shift();
  }
  majGraphes(graphes.direct, direct);
}

function dessinerResume() {
  const h = flotte.get(hoteOuvert);
  $("resume-hote").textContent = !h ? "Aucun rapport récent."
    : (silencieux(h) ? "Silencieux depuis " : "Dernier rapport il y a ") + duree(age(h))
      + " · CPU " + nombre(h.cpu, 1) + " % · RAM " + nombre(h.ram, 1) + " % · disque " + nombre(h.disk, 1)
      + " % · réseau " + nombre(h.network, 1) + " Mbit/s · CPU " + nombre(h.cputemp, 0) + " °C · carte mère "
      + nombre(h.mbtemp, 0) + " °C · VM " + h.vmsActives + " / " + h.vms;
}

function dessinerVMs() {
  const tbody = $("table-vms").tBodies[0];
  const valeur = (vm) => triVMs.cle === "ram" ? vm.ram : vm[triVMs.cle];
  const vms = [...vmsOuvertes].sort((a, b) => comparer(valeur(a), valeur(b), triVMs.sens) || String(a.nom).localeCompare(String(b.nom)));
  tbody.replaceChildren();
  for (const vm of vms) {
    const tr = document.createElement("tr");
    tr.dataset.nom = vm.nom;
    tr.addEventListener("click", () => {
      location.hash = "#/h/" + encodeURIComponent(hoteOuvert) + "/vm/" + encodeURIComponent(tr.dataset.nom);
    });
    const textes = [
      vm.nom,
      typeof vm.etat === "number" ? (etatsVM[vm.etat] ?? String(vm.etat)) : "–",
      nombre(vm.cpu, 1),
      kio(vm.ram) + " / " + kio(vm.maxram),
      nombre(vm.network, 2),
    ];
    textes.forEach((texte, i) => {
      const td = document.createElement("td");
      td.textContent = texte;
      if (i === 0) td.className = "nom";
      if (i === 2) td.className = niveau(vm.cpu, seuilsCharge);
      tr.appendChild(td);
    });
    tbody.appendChild(tr);
  }
  marquerTri($("table-vms"), triVMs);
  dessinerResumeVM();
}

function dessinerResumeVM() {
  if (vmOuverte === null) return;
  const vm = vmsOuvertes.find((v) => v.nom === vmOuverte);
  $("resume-vm").textContent = !vm ? "Absente du dernier rapport de l'hyperviseur."
    : "État : " + (typeof vm.etat === "number" ? (etatsVM[vm.etat] ?? String(vm.etat)) : "–")
      + " · CPU " + nombre(vm.cpu, 1) + " % · RAM " + kio(vm.ram) + " / " + kio(vm.maxram)
      + " · réseau " + nombre(vm.network, 2) + " Mbit/s";
}

async function chargerDirect() {
  const nom = hoteOuvert;
  try {
    const r = await demander("api/hyperviseur?nom=" + encodeURIComponent(nom));
    if (nom !== hoteOuvert) return;
    if (!r.ok) { $("resume-hote").textContent = "Hyperviseur inconnu du tableau de bord."; return; }
    const d = await r.json();
    if (nom !== hoteOuvert) return;
    direct = d.fenetre;
    vmsOuvertes = d.vms;
    creerGraphes($("graphes-direct"), graphes.direct, direct, groupesHote);
    dessinerResume();
    dessinerVMs();
  } catch (e) {
    $("resume-hote").textContent = "Lecture impossible : " + e.message;
  }
}

const libellesSources = { archive: "archive", fichiers: "fichiers bruts", journal: "heure en cours" };

function texteResolution(s) {
  if (s >= 86400 && s % 86400 === 0) return s / 86400 + (s === 86400 ? " jour" : " jours");
  if (s >= 3600 && s % 3600 === 0) return s / 3600 + " h";
  if (s >= 60 && s % 60 === 0) return s / 60 + " min";
  return duree(s * 1000);
}

// "résolution : 1 h · sources : archive, fichiers bruts, heure en cours",
// each resolution followed by its sources when they differ.
function texteSources(sources) {
  if (!sources.length) return "";
  const parResolution = new Map();
  for (const source of sources) {
    const liste = parResolution.get(source.resolution) || [];
    liste.push(libellesSources[source.type] || source.type);
    parResolution.set(source.resolution, liste);
  }
  const resolutions = [...parResolution].map(([r, liste]) =>
    texteResolution(r) + (parResolution.size > 1 ? " (" + liste.join(", ") + ")" : ""));
  return "résolution : " + resolutions.join(", ") + " · sources : "
    + sources.map((source) => libellesSources[source.type] || source.type).join(", ");
}

// A silence (no report for well over a point's span) is drawn as a gap,
// not as a line across it.
function avecSilences(series, ecart) {
  const t = series.t || [];
  const resultat = { t: [] };
  const cles = Object.keys(series).filter((cle) => Array.isArray(series[cle]) && cle !== "t");
  for (const cle of cles) resultat[cle] = [];
  for (let i = 0; i < t.length; ++i) {
    if (i > 0 && t[i] - t[i - 1] > ecart) {
      resultat.t.push((t[i] + t[i - 1]) / 2);
      for (const cle of cles) resultat[cle].push(null);
    }
    resultat.t.push(t[i]);
    for (const cle of cles) resultat[cle].push(series[cle][i]);
  }
  return resultat;
}

// A datetime-local input's text, in the page's time zone.
function texteLocal(secondes) {
  const d = new Date(secondes * 1000);
  const deux = (n) => String(n).padStart(2, "0");
  return d.getFullYear() + "-" + deux(d.getMonth() + 1) + "-" + deux(d.getDate()) + "T" + deux(d.getHours()) + ":" + deux(d.getMinutes());
}

function plageCourante() {
  if (periode.secondes) {
    const jusqua = Math.floor(maintenant() / 1000);
    return [jusqua - periode.secondes, jusqua];
  }
  return [periode.depuis, periode.jusqua];
}

async function chargerHistorique() {
  const nom = hoteOuvert, vm = vmOuverte, numero = ++lectureHistorique;
  for (const b of $("periodes").querySelectorAll("button")) b.classList.toggle("actif", Number(b.dataset.duree) === periode.secondes);
  const [depuis, jusqua] = plageCourante();
  $("plage-debut").value = texteLocal(depuis);
  $("plage-fin").value = texteLocal(jusqua);
  const url = "api/historique?hyperviseur=" + encodeURIComponent(nom) + (vm !== null ? "&vm=" + encodeURIComponent(vm) : "&vms=aucune")
    + "&depuis=" + depuis + "&jusqua=" + jusqua;
  // The same request as CSV: exactly what the charts show.
  $("export-csv").href = url + "&format=csv";
  $("export-csv").hidden = false;
  $("historique-etat").textContent = "lecture de l'historique…";
  try {
    const r = await demander(url);
    if (!r.ok) throw new Error(r.status + " " + r.statusText);
    const d = await r.json();
    if (numero !== lectureHistorique) return;
    const series = vm === null ? d.hyperviseur : (d.vms[0] || { t: [] });
    const ecart = 2.5 * Math.max(d.pas, ...d.sources.map((source) => source.resolution));
    creerGraphes($("graphes-historique"), graphes.historique, avecSilences(series, ecart),
      vm === null ? groupesHote : groupesVM, [depuis, jusqua]);
    const sources = texteSources(d.sources);
    $("historique-etat").textContent = (series.t.length ? series.t.length + " point(s)" : "Aucune donnée sur cette période")
      + (sources ? " · " + sources : "")
      + (d.illisibles ? " · " + d.illisibles + " fichier(s) illisible(s)" : "")
      + (d.erreurs.length ? " · archive en partie illisible" : "") + ".";
  } catch (e) {
    if (numero === lectureHistorique) $("historique-etat").textContent = "Lecture impossible : " + e.message;
  }
}

function afficherPlage() {
  const depuis = Math.floor(new Date($("plage-debut").value).getTime() / 1000);
  const jusqua = Math.floor(new Date($("plage-fin").value).getTime() / 1000);
  if (!(depuis < jusqua)) {
    $("historique-etat").textContent = "Période invalide : le début doit précéder la fin.";
    return;
  }
  periode = { depuis, jusqua };
  chargerHistorique();
}

// ---- Navigation: #/ is the fleet, #/h/NAME a hypervisor, #/h/NAME/vm/VM one of its VMs,
// #/alertes the alerts.

function naviguer() {
  const m = location.hash.match(/^#\/h\/([^/]*)(?:\/vm\/([^/]*))?$/);
  let nom = null, vm = null;
  if (m) {
    try {
      nom = decodeURIComponent(m[1]);
      vm = m[2] !== undefined ? decodeURIComponent(m[2]) : null;
    } catch (e) { nom = null; vm = null; }
  }
  const vueAlertes = location.hash === "#/alertes";
  const change = nom !== hoteOuvert;
  const changeVM = vm !== vmOuverte;
  hoteOuvert = nom;
  vmOuverte = nom !== null ? vm : null;
  $("vue-flotte").hidden = nom !== null || vueAlertes;
  $("vue-alertes").hidden = !vueAlertes;
  $("lien-alertes").classList.toggle("actif", vueAlertes);
  $("vue-hote").hidden = nom === null;
  $("partie-hote").hidden = vmOuverte !== null;
  $("partie-vm").hidden = vmOuverte === null;
  $("retour-hote").hidden = vmOuverte === null;
  if (nom !== null) {
    $("titre-hote").textContent = nom;
    $("lien-hote").href = "#/h/" + encodeURIComponent(nom);
    $("lien-hote").textContent = "← " + nom;
    $("titre-vm").textContent = vmOuverte !== null ? "Machine virtuelle " + vmOuverte : "";
    document.title = (vmOuverte !== null ? vmOuverte + " · " : "") + nom + " · collecteur";
    dessinerAlertesHote();
  } else {
    document.title = (vueAlertes ? "Alertes" : "Flotte") + " · collecteur";
    direct = null;
  }
  if (change || !source) ouvrirFlux();
  if (vueAlertes) ouvrirVueAlertes();
  if (nom !== null && change) {
    $("graphes-direct").replaceChildren();
    vmsOuvertes = [];
    dessinerVMs();
  }
  if (nom !== null && (change || changeVM)) {
    $("graphes-historique").replaceChildren();
    dessinerResumeVM();
    // Back on the host, its live charts are drawn again at their width.
    if (!change && vmOuverte === null && direct) creerGraphes($("graphes-direct"), graphes.direct, direct, groupesHote);
    chargerHistorique();
  }
}

function demarrer() {
  brancherTri($("table-flotte"), triFlotte, dessinerFlotte);
  brancherTri($("table-vms"), triVMs, dessinerVMs);
  $("filtre").addEventListener("input", dessinerFlotte);
  $("pires").addEventListener("click", () => { triFlotte.cle = "charge"; triFlotte.sens = -1; dessinerFlotte(); });
  for (const b of $("periodes").querySelectorAll("button")) {
    b.addEventListener("click", () => { periode = { secondes: Number(b.dataset.duree) }; chargerHistorique(); });
  }
  $("plage-afficher").addEventListener("click", afficherPlage);
  window.addEventListener("hashchange", naviguer);
  // Ages and silences move on without any new report.
  setInterval(() => { if (hoteOuvert === null) dessinerFlotte(); else dessinerResume(); }, 1000);
  afficherEtat();
  naviguer();
  demarrerAlertes();
}

demarrer();
