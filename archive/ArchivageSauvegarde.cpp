// SPDX-License-Identifier: MIT
#include "ArchivageSauvegarde.h"

#include "FichierArchive.h"
#include "FichierRrd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

ArchivageSauvegarde::ArchivageSauvegarde(const QString &archive, const std::atomic_bool *arret)
    : m_archive(archive), m_arret(arret)
{
}

ArchivageSauvegarde::Bilan ArchivageSauvegarde::archiver(const QString &sauvegarde)
{
    Bilan bilan;
    LectureSauvegarde lecture;
    bilan.resultat = lecture.lire(sauvegarde, [&](const QString &hyperviseur, const QString &vm, MesuresSerie &mesures) {
        if (m_arret && m_arret->load())
            return false;
        ++(vm.isNull() ? bilan.hyperviseurs : bilan.vms);
        archiverSerie(hyperviseur, vm, mesures, bilan);
        return true;
    });
    if (bilan.resultat != LectureSauvegarde::Lue && bilan.resultat != LectureSauvegarde::Interrompue)
        bilan.erreur = lecture.erreur();
    return bilan;
}

bool ArchivageSauvegarde::archiverSerie(const QString &hyperviseur, const QString &vm, const MesuresSerie &mesures,
                                        Bilan &bilan)
{
    const QString chemin = vm.isNull() ? FichierArchive::cheminHyperviseur(m_archive, hyperviseur)
                                       : FichierArchive::cheminVM(m_archive, hyperviseur, vm);
    QString erreur;
    const qint64 derniere = preparer(chemin, hyperviseur, vm, mesures.points.front().temps, erreur);
    if (derniere < 0) {
        ++bilan.seriesEnEchec;
        if (bilan.erreur.isEmpty())
            bilan.erreur = QStringLiteral("%1 : %2").arg(chemin, erreur);
        return false;
    }
    const auto premier = std::upper_bound(mesures.points.begin(), mesures.points.end(), derniere,
                                          [](qint64 temps, const MesuresSerie::Point &point) { return temps < point.temps; });
    const size_t ignorees = size_t(premier - mesures.points.begin());
    bilan.ignorees += qint64(ignorees);
    if (ignorees == mesures.points.size())
        return true;
    if (!FichierRrd::mettreAJour(chemin, mesures, ignorees, erreur)) {
        // What RRDtool took before it failed is unknown: read again next time.
        m_dernieres.remove(chemin);
        ++bilan.seriesEnEchec;
        if (bilan.erreur.isEmpty())
            bilan.erreur = QStringLiteral("%1 : %2").arg(chemin, erreur);
        return false;
    }
    m_dernieres.insert(chemin, mesures.points.back().temps);
    bilan.mesures += qint64(mesures.points.size() - ignorees);
    return true;
}

qint64 ArchivageSauvegarde::preparer(const QString &chemin, const QString &hyperviseur, const QString &vm,
                                     qint64 premier, QString &erreur)
{
    const auto connue = m_dernieres.constFind(chemin);
    if (connue != m_dernieres.constEnd())
        return connue.value();
    if (QFileInfo::exists(chemin)) {
        const qint64 derniere = FichierRrd::derniereMiseAJour(chemin);
        if (derniere < 0)
            erreur = QStringLiteral("fichier RRD illisible");
        else
            m_dernieres.insert(chemin, derniere);
        return derniere;
    }
    const QString dossier = FichierArchive::dossierHyperviseur(m_archive, hyperviseur);
    if (!m_dossiers.contains(dossier)) {
        if (!QDir().mkpath(dossier)) {
            erreur = QStringLiteral("dossier impossible à créer");
            return -1;
        }
        m_dossiers.insert(dossier);
    }
    // A name too long for a file name keeps its full text beside it.
    const QString nom = vm.isNull() ? hyperviseur : vm;
    if (FichierArchive::nomDepuisFichier(FichierArchive::nomFichier(nom)).isNull()) {
        QSaveFile texte(chemin.left(chemin.size() - FichierArchive::extension().size()) + FichierArchive::suffixeNom());
        if (!texte.open(QIODevice::WriteOnly) || texte.write(nom.toUtf8()) < 0 || !texte.commit()) {
            erreur = texte.errorString();
            return -1;
        }
    }
    // The first value stands for the step before it, as every later one
    // stands for the interval before it.
    const qint64 avant = premier - FichierArchive::pas();
    if (!FichierRrd::creer(chemin, vm.isNull() ? FichierArchive::sourcesHyperviseur() : FichierArchive::sourcesVM(),
                           avant, erreur))
        return -1;
    m_dernieres.insert(chemin, avant);
    return avant;
}
