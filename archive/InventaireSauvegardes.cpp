// SPDX-License-Identifier: MIT
#include "InventaireSauvegardes.h"

#include "FichierSauvegarde.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

QVector<InventaireSauvegardes::Sauvegarde> InventaireSauvegardes::lister(const QString &dossier)
{
    QVector<Sauvegarde> liste;
    const QString interrompue = FichierSauvegarde::suffixeInterrompue();
    const QFileInfoList entrees = QDir(dossier).entryInfoList(
        {FichierSauvegarde::filtreNoms(), FichierSauvegarde::filtreNoms() + interrompue}, QDir::Files);
    for (const QFileInfo &entree : entrees) {
        Sauvegarde sauvegarde;
        sauvegarde.nom = entree.fileName();
        sauvegarde.interrompue = sauvegarde.nom.endsWith(interrompue);
        const QDateTime instant = FichierSauvegarde::instant(
            sauvegarde.interrompue ? sauvegarde.nom.left(sauvegarde.nom.size() - interrompue.size()) : sauvegarde.nom);
        if (!instant.isValid())
            continue;
        sauvegarde.chemin = entree.absoluteFilePath();
        sauvegarde.instant = instant.toSecsSinceEpoch();
        sauvegarde.taille = entree.size();
        liste.append(sauvegarde);
    }
    std::sort(liste.begin(), liste.end(), [](const Sauvegarde &a, const Sauvegarde &b) {
        return a.instant != b.instant ? a.instant < b.instant : a.nom < b.nom;
    });
    return liste;
}
