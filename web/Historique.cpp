// SPDX-License-Identifier: MIT
#include "Historique.h"

#include "ClesRapport.h"
#include "FichierArchive.h"
#include "LecteurArchive.h"
#include "LecteurHistorique.h"
#include "LecteurJournal.h"
#include "LectureRrd.h"
#include "SeriesCumulees.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr qint64 infini = std::numeric_limits<qint64>::max() / 4;

// Times are after the epoch: plain divisions round towards the floor.
qint64 arrondiBas(qint64 t, qint64 pas)
{
    return t / pas * pas;
}

qint64 arrondiHaut(qint64 t, qint64 pas)
{
    return (t + pas - 1) / pas * pas;
}

// The archive's rows (t - palier, t] that lie in [depuis, jusqua] and end by
// `borne`, in groups of `groupe` seconds; each row counts once at its middle.
qint64 cumulerArchive(const LecteurArchive::Serie &serie, const QStringList &mesures, qint64 groupe, qint64 depuis,
                      qint64 jusqua, qint64 borne, SerieCumulee &cumuls)
{
    QVector<int> mesure;
    for (const QString &source : serie.sources)
        mesure.append(int(mesures.indexOf(source)));
    qint64 lignes = 0;
    for (int ligne = 0; ligne < serie.temps.size(); ++ligne) {
        const qint64 fin = serie.temps.at(ligne);
        if (fin <= depuis || fin - serie.pas >= jusqua || fin > borne)
            continue;
        bool connue = false;
        for (const QVector<double> &valeurs : serie.moyennes)
            connue = connue || std::isfinite(valeurs.at(ligne));
        if (!connue)
            continue;
        Cumul &cumul = cumuls[arrondiHaut(fin, groupe)];
        cumul.ajouterLigne(double(fin) - double(serie.pas) / 2);
        for (int source = 0; source < serie.sources.size(); ++source) {
            if (mesure.at(source) >= 0)
                cumul.ajouter(mesure.at(source), serie.moyennes.at(source).at(ligne));
        }
        ++lignes;
    }
    return lignes;
}

// The archive's points, then the raw files' and the journal's: the former
// all end by the border, the latter all come after it.
SerieHistorique serie(const QString &nom, const QString &uuid, const QVector<const SerieCumulee *> &parties, int mesures)
{
    SerieHistorique resultat{nom, uuid, {}, QVector<QVector<double>>(mesures)};
    for (const SerieCumulee *partie : parties) {
        for (const Cumul &cumul : *partie) {
            resultat.temps.append(qint64(std::llround(cumul.sommeTemps / double(cumul.lignes))));
            for (int i = 0; i < mesures; ++i) {
                const qint64 n = cumul.nombre[size_t(i)];
                resultat.valeurs[i].append(n > 0 ? cumul.somme[size_t(i)] / double(n) : qQNaN());
            }
        }
    }
    return resultat;
}

// What a point of the raw files stands for: the grid's step, or the
// agents' interval when that is longer, each bin then holding one report
// at most (the usual gap between them, whatever a silence in between).
qint64 resolution(const SerieCumulee &serie, qint64 pas)
{
    qint64 lignes = 0;
    std::vector<double> ecarts;
    double precedent = qQNaN();
    for (const Cumul &cumul : serie) {
        lignes += cumul.lignes;
        const double temps = cumul.sommeTemps / double(cumul.lignes);
        if (std::isfinite(precedent))
            ecarts.push_back(temps - precedent);
        precedent = temps;
    }
    if (ecarts.empty() || lignes >= 2 * qint64(serie.size()))
        return pas;
    std::nth_element(ecarts.begin(), ecarts.begin() + std::ptrdiff_t(ecarts.size() / 2), ecarts.end());
    return qMax(pas, qint64(std::llround(ecarts[ecarts.size() / 2])));
}

} // namespace

Historique Historique::lire(const DemandeHistorique &demande)
{
    Historique historique;
    historique.demande = demande;
    const qint64 duree = demande.jusqua - demande.depuis;
    const int points = qMax(demande.points, 1);
    qint64 pas = qMax<qint64>(1, (duree + points) / points);
    const bool longue = duree > dureeDetaillee;
    const qint64 premier = LecteurHistorique::debut(demande.sauvegardes);
    const qint64 debutBrut = premier < 0 ? infini : premier;
    const QStringList mesuresHyperviseur = ClesRapport::noms(ClesRapport::mesuresHyperviseur());
    const QStringList mesuresVM = ClesRapport::noms(ClesRapport::mesuresVM());
    ChoixVMs vms;
    vms.mode = !demande.vm.isNull() ? ChoixVMs::Une : demande.vms ? ChoixVMs::Toutes : ChoixVMs::Aucune;
    vms.nom = demande.vm;
    const QStringList choisies = vms.mode == ChoixVMs::Une ? QStringList{vms.nom} : QStringList();

    // The archive holds what ends by `borne`, the raw files and the journal
    // what comes after. Files are deleted once archived, oldest first, so
    // the archive always reaches the oldest raw file left.
    SeriesCumulees archive;
    qint64 borne = -infini;
    const QString cheminArchive =
        demande.archive.isEmpty() ? QString() : FichierArchive::cheminHyperviseur(demande.archive, demande.hyperviseur);
    const qint64 derniere = cheminArchive.isEmpty() ? -1 : LectureRrd::derniereMiseAJour(cheminArchive);
    if (derniere > 0 && (longue || debutBrut > demande.depuis)) {
        const LecteurArchive::Historique lu = LecteurArchive::lire(demande.archive, demande.hyperviseur, demande.depuis,
                                                                   demande.jusqua, longue ? pas : 1,
                                                                   vms.mode == ChoixVMs::Toutes ? nullptr : &choisies);
        historique.erreurs = lu.erreurs;
        const qint64 palier = lu.hyperviseur.pas;
        if (palier > 0) {
            const qint64 groupe = arrondiHaut(pas, palier);
            const qint64 finArchive = arrondiBas(derniere, palier);
            if (longue) {
                // On the grid, so that no point mixes both; unless the raw
                // files left do not reach back that far.
                borne = arrondiBas(derniere, groupe);
                if (debutBrut > borne + 1)
                    borne = finArchive;
                pas = groupe;
            } else {
                borne = qMin(arrondiHaut(debutBrut, palier), finArchive);
            }
            qint64 lignes = cumulerArchive(lu.hyperviseur, mesuresHyperviseur, groupe, demande.depuis, demande.jusqua,
                                           borne, archive.hyperviseur);
            for (const LecteurArchive::Serie &vm : lu.vms) {
                const QByteArray nom = vm.nom.toUtf8();
                lignes += cumulerArchive(vm, mesuresVM, groupe, demande.depuis, demande.jusqua, borne,
                                         archive.vm(nom.constData(), int(nom.size()), nullptr, 0).cumuls);
            }
            if (lignes > 0)
                historique.sources.append({SourceHistorique::Archive, groupe, lignes, borne, palier});
        }
    }

    GrilleHistorique grille;
    grille.pas = pas;
    // A short range's bins start at its start, a long range's are the archive's.
    grille.origine = longue ? 0 : demande.depuis - 1;
    grille.min = qMax(demande.depuis, borne + 1);
    if (longue)
        grille.min = qMax(grille.min, demande.jusqua - dureeDetaillee);
    grille.max = demande.jusqua;
    SeriesCumulees brut;
    if (grille.min <= grille.max) {
        const QVector<LecteurHistorique::Fichier> choisis = LecteurHistorique::fichiers(demande.sauvegardes, grille.min, grille.max);
        historique.fichiers = int(choisis.size());
        historique.illisibles = LecteurHistorique::lire(choisis, demande.hyperviseur, vms, grille, brut);
        const qint64 lignesFichiers = brut.lignes;
        const LecteurJournal::Bilan journal =
            LecteurJournal::lire(demande.sauvegardes, demande.hyperviseur, vms, grille, brut);
        historique.segments = journal.segments;
        const qint64 pasBrut = resolution(brut.hyperviseur, pas);
        if (lignesFichiers > 0)
            historique.sources.append({SourceHistorique::Fichiers, pasBrut, lignesFichiers});
        if (journal.rapports > 0)
            historique.sources.append({SourceHistorique::Journal, pasBrut, journal.rapports});
    }
    historique.pas = pas;

    historique.hyperviseur = serie(demande.hyperviseur, QString(), {&archive.hyperviseur, &brut.hyperviseur},
                                   int(mesuresHyperviseur.size()));
    QStringList noms;
    for (const SerieVMCumulee &vm : qAsConst(archive.vms))
        noms.append(vm.nom);
    for (const SerieVMCumulee &vm : qAsConst(brut.vms))
        noms.append(vm.nom);
    std::sort(noms.begin(), noms.end());
    noms.erase(std::unique(noms.begin(), noms.end()), noms.end());
    static const SerieCumulee aucune;
    for (const QString &nom : qAsConst(noms)) {
        const QByteArray cle = nom.toUtf8();
        const auto dansArchive = archive.vms.constFind(cle);
        const auto dansBrut = brut.vms.constFind(cle);
        const bool brute = dansBrut != brut.vms.constEnd();
        historique.vms.append(serie(nom, brute ? dansBrut->uuid : QString(),
                                    {dansArchive != archive.vms.constEnd() ? &dansArchive->cumuls : &aucune,
                                     brute ? &dansBrut->cumuls : &aucune},
                                    int(mesuresVM.size())));
    }
    return historique;
}
