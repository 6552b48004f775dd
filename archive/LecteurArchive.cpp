// SPDX-License-Identifier: MIT
#include "LecteurArchive.h"

#include "FichierArchive.h"
#include "LectureRrd.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

QString cheminNom(const QString &cheminRrd)
{
    return cheminRrd.left(cheminRrd.size() - FichierArchive::extension().size()) + FichierArchive::suffixeNom();
}

} // namespace

QStringList LecteurArchive::vms(const QString &archive, const QString &hyperviseur)
{
    const QDir dossier(FichierArchive::dossierHyperviseur(archive, hyperviseur));
    QStringList noms;
    const QStringList fichiers = dossier.entryList(
        {FichierArchive::prefixeVM() + QLatin1Char('*') + FichierArchive::extension()}, QDir::Files);
    for (const QString &fichier : fichiers) {
        QString nom = FichierArchive::nomVM(fichier);
        if (nom.isNull()) {
            QFile texte(cheminNom(dossier.filePath(fichier)));
            if (!texte.open(QIODevice::ReadOnly))
                continue;
            nom = QString::fromUtf8(texte.readAll());
            // Only the name that leads to this very file.
            if (FichierArchive::cheminVM(archive, hyperviseur, nom) != dossier.filePath(fichier))
                continue;
        }
        noms.append(nom);
    }
    std::sort(noms.begin(), noms.end());
    return noms;
}

LecteurArchive::Historique LecteurArchive::lire(const QString &archive, const QString &hyperviseur, qint64 depuis,
                                                qint64 jusqua, qint64 resolution, const QStringList *choisies)
{
    Historique historique;
    const QString chemin = FichierArchive::cheminHyperviseur(archive, hyperviseur);
    if (!QFile::exists(chemin))
        return historique;
    historique.trouve = true;
    QString erreur;
    historique.hyperviseur.nom = hyperviseur;
    if (!lireSerie(chemin, depuis, jusqua, resolution, historique.hyperviseur, erreur))
        historique.erreurs.append(QStringLiteral("%1 : %2").arg(chemin, erreur));
    const QStringList noms = choisies ? *choisies : vms(archive, hyperviseur);
    for (const QString &nom : noms) {
        Serie serie;
        serie.nom = nom;
        const QString cheminVM = FichierArchive::cheminVM(archive, hyperviseur, nom);
        if (choisies && !QFile::exists(cheminVM))
            continue;
        if (lireSerie(cheminVM, depuis, jusqua, resolution, serie, erreur))
            historique.vms.append(serie);
        else
            historique.erreurs.append(QStringLiteral("%1 : %2").arg(cheminVM, erreur));
    }
    return historique;
}

bool LecteurArchive::lireSerie(const QString &chemin, qint64 depuis, qint64 jusqua, qint64 resolution, Serie &serie,
                               QString &erreur)
{
    LectureRrd::Lecture moyennes;
    LectureRrd::Lecture maximums;
    const QStringList &fonctions = FichierArchive::fonctions();
    if (!LectureRrd::lire(chemin, fonctions.at(0), depuis, jusqua, resolution, moyennes, erreur)
        || !LectureRrd::lire(chemin, fonctions.at(1), depuis, jusqua, resolution, maximums, erreur))
        return false;
    serie.pas = moyennes.pas;
    serie.sources = moyennes.sources;
    serie.temps.clear();
    const int lignes = moyennes.lignes();
    for (int ligne = 0; ligne < lignes; ++ligne)
        serie.temps.append(moyennes.debut + moyennes.pas * (ligne + 1));
    serie.moyennes.fill(QVector<double>(lignes), moyennes.sources.size());
    serie.maximums.fill(QVector<double>(lignes, qQNaN()), moyennes.sources.size());
    // Both functions have the same tiers: the same rows, unless the range
    // straddles a tier's edge between the two reads.
    const bool memesLignes = maximums.pas == moyennes.pas && maximums.debut == moyennes.debut;
    for (int source = 0; source < moyennes.sources.size(); ++source) {
        for (int ligne = 0; ligne < lignes; ++ligne) {
            serie.moyennes[source][ligne] = moyennes.valeur(ligne, source);
            if (memesLignes && ligne < maximums.lignes())
                serie.maximums[source][ligne] = maximums.valeur(ligne, source);
        }
    }
    return true;
}
