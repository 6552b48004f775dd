// SPDX-License-Identifier: MIT
#include "ExpositionMetriques.h"

#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

using ClesRapport::Unite;

// A family is named after its key and its base unit, to which its values
// are converted: percentages become ratios, Mbit/s bytes per second, KiB bytes.
struct UniteBase
{
    const char *suffixe;
    double facteur;
};

UniteBase uniteBase(Unite unite)
{
    switch (unite) {
    case Unite::Pourcent: return {"_ratio", 0.01};
    case Unite::MbitParSeconde: return {"_bytes_per_second", 125000};
    case Unite::Kibioctets: return {"_bytes", 1024};
    case Unite::Celsius: return {"_celsius", 1};
    case Unite::SecondesUnix: return {"_seconds", 1};
    case Unite::Texte:
    case Unite::EtatLibvirt: break;
    }
    return {"", 1};
}

template <typename Rapport>
struct Definition
{
    QLatin1String cle;
    const char *aide;
    // Where a value that is no measure is kept; null for what is counted (a
    // host's VMs) or kept as an integer (a VM's state).
    double Rapport::*horsMesures = nullptr;
};

// In the order scrapers have always seen them.
const Definition<RapportHyperviseur> definitionsHyperviseur[] = {
    {ClesRapport::cpu, "Part des CPU occupés (0 à 1)."},
    {ClesRapport::ram, "Part de la mémoire utilisée (0 à 1)."},
    {ClesRapport::disque, "Part de l'espace disque des images utilisée (0 à 1)."},
    {ClesRapport::reseau, "Débit réseau reçu et émis, octets par seconde."},
    {ClesRapport::temperatureCpu, "Température du CPU le plus chaud, degrés Celsius."},
    {ClesRapport::temperatureCarteMere, "Température de la carte mère, degrés Celsius."},
    {ClesRapport::temps, "Heure Unix du dernier rapport, en secondes.", &RapportHyperviseur::time},
    {ClesRapport::vms, "Nombre de VM du dernier rapport."},
};

const Definition<RapportVM> definitionsVM[] = {
    {ClesRapport::etat, "État libvirt de la VM (0 à 7 ; 1 : en marche)."},
    {ClesRapport::cpu, "Part de ses vCPU que la VM occupe (0 à 1)."},
    {ClesRapport::ram, "Mémoire utilisée par la VM, octets."},
    {ClesRapport::ramMax, "Mémoire maximale de la VM, octets."},
    {ClesRapport::reseau, "Débit réseau de la VM, octets par seconde."},
};

template <typename Rapport>
struct Famille
{
    QByteArray nom;
    const char *aide;
    double facteur;
    double Rapport::*champ;
};

template <typename Rapport, size_t N, size_t M>
QVector<Famille<Rapport>> familles(const char *prefixe, const QVector<ClesRapport::Cle> &cles,
                                   const Definition<Rapport> (&definitions)[N], const ChampMesure<Rapport> (&champs)[M])
{
    QVector<Famille<Rapport>> resultat;
    for (const Definition<Rapport> &definition : definitions) {
        const auto cle = std::find_if(cles.cbegin(), cles.cend(),
                                      [&definition](const ClesRapport::Cle &c) { return c.nom == definition.cle; });
        const UniteBase unite = uniteBase(cle != cles.cend() ? cle->unite : Unite::Texte);
        const auto champ = std::find_if(std::begin(champs), std::end(champs),
                                        [&definition](const ChampMesure<Rapport> &c) { return c.cle == definition.cle; });
        const QByteArray nom = prefixe + QByteArray(definition.cle.data(), definition.cle.size()) + unite.suffixe;
        resultat.append(Famille<Rapport>{nom, definition.aide, unite.facteur,
                                         champ != std::end(champs) ? champ->valeur : definition.horsMesures});
    }
    return resultat;
}

double valeur(const Famille<RapportHyperviseur> &famille, const RapportHyperviseur &rapport)
{
    return famille.champ ? rapport.*famille.champ : double(rapport.vms.size() + rapport.vmsIgnorees);
}

double valeur(const Famille<RapportVM> &famille, const RapportVM &vm)
{
    if (famille.champ)
        return vm.*famille.champ;
    return vm.etat >= 0 ? double(vm.etat) : valeurAbsente;
}

// An absent value is no sample, never a 0.
template <typename Rapport>
void ajouterEchantillon(QByteArray &texte, const Famille<Rapport> &famille, const QByteArray &etiquettes, double valeur)
{
    if (!std::isfinite(valeur))
        return;
    texte += famille.nom;
    texte += etiquettes;
    texte += ' ';
    texte += QByteArray::number(valeur * famille.facteur, 'g', QLocale::FloatingPointShortest);
    texte += '\n';
}

void entete(QByteArray &texte, const QByteArray &nom, const char *aide, const char *type = "gauge")
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
    static const QVector<Famille<RapportHyperviseur>> famillesHyperviseur = familles(
        "collecteur_hyperviseur_", ClesRapport::hyperviseur(), definitionsHyperviseur, champsHyperviseur);
    static const QVector<Famille<RapportVM>> famillesVM =
        familles("collecteur_vm_", ClesRapport::vm(), definitionsVM, champsVM);
    for (const Famille<RapportHyperviseur> &famille : famillesHyperviseur) {
        entete(texte, famille.nom, famille.aide);
        for (int h = 0; h < hotes.size(); ++h)
            ajouterEchantillon(texte, famille, etiquettesHotes.at(h), valeur(famille, hotes.at(h)->dernier));
    }
    for (const Famille<RapportVM> &famille : famillesVM) {
        entete(texte, famille.nom, famille.aide);
        for (const SerieVM &serie : qAsConst(series))
            ajouterEchantillon(texte, famille, serie.etiquettes, valeur(famille, *serie.vm));
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
