// SPDX-License-Identifier: MIT
#include "ExpositionMetriques.h"

#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

struct Famille
{
    const char *nom;
    const char *aide;
    double facteur;
};

// Percentages become ratios, Mbit/s bytes per second, KiB bytes.
const Famille famillesHyperviseur[] = {
    {"collecteur_hyperviseur_cpu_ratio", "Part des CPU occupés (0 à 1).", 0.01},
    {"collecteur_hyperviseur_ram_ratio", "Part de la mémoire utilisée (0 à 1).", 0.01},
    {"collecteur_hyperviseur_disk_ratio", "Part de l'espace disque des images utilisée (0 à 1).", 0.01},
    {"collecteur_hyperviseur_network_bytes_per_second", "Débit réseau reçu et émis, octets par seconde.", 125000},
    {"collecteur_hyperviseur_cputemp_celsius", "Température du CPU le plus chaud, degrés Celsius.", 1},
    {"collecteur_hyperviseur_mbtemp_celsius", "Température de la carte mère, degrés Celsius.", 1},
    {"collecteur_hyperviseur_time_seconds", "Heure Unix du dernier rapport, en secondes.", 1},
    {"collecteur_hyperviseur_vms", "Nombre de VM du dernier rapport.", 1},
};

const Famille famillesVM[] = {
    {"collecteur_vm_state", "État libvirt de la VM (0 à 7 ; 1 : en marche).", 1},
    {"collecteur_vm_cpu_ratio", "Part de ses vCPU que la VM occupe (0 à 1).", 0.01},
    {"collecteur_vm_ram_bytes", "Mémoire utilisée par la VM, octets.", 1024},
    {"collecteur_vm_maxram_bytes", "Mémoire maximale de la VM, octets.", 1024},
    {"collecteur_vm_network_bytes_per_second", "Débit réseau de la VM, octets par seconde.", 125000},
};

double valeurHyperviseur(const RapportHyperviseur &r, int i)
{
    switch (i) {
    case 0: return r.cpu;
    case 1: return r.ram;
    case 2: return r.disk;
    case 3: return r.network;
    case 4: return r.cputemp;
    case 5: return r.mbtemp;
    case 6: return r.time;
    default: return double(r.vms.size() + r.vmsIgnorees);
    }
}

double valeurVM(const RapportVM &vm, int i)
{
    switch (i) {
    case 0: return vm.etat >= 0 ? double(vm.etat) : valeurAbsente;
    case 1: return vm.cpu;
    case 2: return vm.ram;
    case 3: return vm.maxram;
    default: return vm.network;
    }
}

void ajouterValeur(QByteArray &texte, double valeur)
{
    texte += QByteArray::number(valeur, 'g', QLocale::FloatingPointShortest);
}

void entete(QByteArray &texte, const char *nom, const char *aide, const char *type = "gauge")
{
    texte += "# HELP ";
    texte += nom;
    texte += ' ';
    texte += aide;
    texte += "\n# TYPE ";
    texte += nom;
    texte += ' ';
    texte += type;
    texte += '\n';
}

struct SerieVM
{
    QByteArray etiquettes;
    const RapportVM *vm;
};

} // namespace

QByteArray ExpositionMetriques::etiquette(const QString &valeur)
{
    const QByteArray octets = valeur.toUtf8();
    QByteArray resultat;
    resultat.reserve(octets.size() + 2);
    resultat += '"';
    for (const char c : octets) {
        if (c == '\\')
            resultat += "\\\\";
        else if (c == '"')
            resultat += "\\\"";
        else if (c == '\n')
            resultat += "\\n";
        else
            resultat += c;
    }
    resultat += '"';
    return resultat;
}

QByteArray ExpositionMetriques::texte(const EtatFlotte &flotte, const CompteursWeb &compteurs, qint64 maintenant)
{
    QVector<const HoteFlotte *> hotes;
    for (const HoteFlotte &hote : flotte.hotes()) {
        if (hote.recu >= maintenant - expiration)
            hotes.append(&hote);
    }
    std::sort(hotes.begin(), hotes.end(),
              [](const HoteFlotte *a, const HoteFlotte *b) { return a->dernier.nom < b->dernier.nom; });

    QVector<QByteArray> etiquettesHotes;
    QVector<SerieVM> series;
    for (const HoteFlotte *hote : qAsConst(hotes)) {
        const QByteArray hyperviseur = "hyperviseur=" + etiquette(hote->dernier.nom);
        etiquettesHotes.append('{' + hyperviseur + '}');
        // Two series with the same labels would make Prometheus refuse the
        // whole scrape: a VM listed twice is exposed once.
        QSet<QPair<QString, QString>> vues;
        for (const RapportVM &vm : hote->dernier.vms) {
            const auto cle = qMakePair(vm.nom, vm.uuid);
            if (vues.contains(cle))
                continue;
            vues.insert(cle);
            series.append({'{' + hyperviseur + ",vm=" + etiquette(vm.nom) + ",uuid=" + etiquette(vm.uuid) + '}', &vm});
        }
    }

    QByteArray texte;
    texte.reserve(256 + hotes.size() * 600 + series.size() * 5 * 110);
    int i = 0;
    for (const Famille &famille : famillesHyperviseur) {
        entete(texte, famille.nom, famille.aide);
        for (int h = 0; h < hotes.size(); ++h) {
            const double valeur = valeurHyperviseur(hotes.at(h)->dernier, i);
            if (!std::isfinite(valeur))
                continue;
            texte += famille.nom;
            texte += etiquettesHotes.at(h);
            texte += ' ';
            ajouterValeur(texte, valeur * famille.facteur);
            texte += '\n';
        }
        ++i;
    }
    i = 0;
    for (const Famille &famille : famillesVM) {
        entete(texte, famille.nom, famille.aide);
        for (const SerieVM &serie : qAsConst(series)) {
            const double valeur = valeurVM(*serie.vm, i);
            if (!std::isfinite(valeur))
                continue;
            texte += famille.nom;
            texte += serie.etiquettes;
            texte += ' ';
            ajouterValeur(texte, valeur * famille.facteur);
            texte += '\n';
        }
        ++i;
    }

    entete(texte, "collecteur_web_connecte", "1 quand le tableau de bord est connecté au collecteur, 0 sinon.");
    texte += "collecteur_web_connecte " + QByteArray(compteurs.connecte ? "1" : "0") + '\n';
    entete(texte, "collecteur_web_trames_total", "Trames reçues du collecteur.", "counter");
    texte += "collecteur_web_trames_total " + QByteArray::number(compteurs.trames) + '\n';
    entete(texte, "collecteur_web_reconnexions_total", "Reconnexions au collecteur après une perte.", "counter");
    texte += "collecteur_web_reconnexions_total " + QByteArray::number(compteurs.reconnexions) + '\n';
    entete(texte, "collecteur_web_rapports_invalides_total", "Rapports relayés qui n'ont pas pu être lus.", "counter");
    texte += "collecteur_web_rapports_invalides_total " + QByteArray::number(compteurs.invalides) + '\n';
    entete(texte, "collecteur_web_hyperviseurs", "Hyperviseurs exposés (rapport depuis moins de cinq minutes).");
    texte += "collecteur_web_hyperviseurs " + QByteArray::number(hotes.size()) + '\n';
    entete(texte, "collecteur_web_pages", "Pages du tableau de bord ouvertes.");
    texte += "collecteur_web_pages " + QByteArray::number(compteurs.pages) + '\n';
    return texte;
}
