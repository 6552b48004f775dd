// SPDX-License-Identifier: MIT
#include "ArchivageSauvegarde.h"

#include "FichierArchive.h"
#include "FichierRrd.h"
#include "FileTaches.h"
#include "LectureRrd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <memory>

ArchivageSauvegarde::ArchivageSauvegarde(const QString &archive, const std::atomic_bool *arret)
    : m_archive(archive), m_arret(arret)
{
}

ArchivageSauvegarde::Bilan ArchivageSauvegarde::archiver(const QString &sauvegarde)
{
    Bilan bilan;
    LectureSauvegarde lecture;
    {
        FileTaches taches(fils, 16 * fils);
        QSet<QString> chemins;
        bilan.resultat = lecture.lire(sauvegarde, [&](const QString &hyperviseur, const QString &vm, MesuresSerie &mesures) {
            if (m_arret && m_arret->load())
                return false;
            const QString chemin = vm.isNull() ? FichierArchive::cheminHyperviseur(m_archive, hyperviseur)
                                               : FichierArchive::cheminVM(m_archive, hyperviseur, vm);
            // Names that differ only by bytes that are not UTF-8 make one
            // file: its updates one after the other.
            if (chemins.contains(chemin))
                taches.attendre();
            chemins.insert(chemin);
            {
                std::lock_guard<std::mutex> garde(m_verrou);
                ++(vm.isNull() ? bilan.hyperviseurs : bilan.vms);
            }
            auto points = std::make_shared<MesuresSerie>(std::move(mesures));
            taches.ajouter([this, chemin, hyperviseur, vm, points, &bilan]() {
                archiverSerie(chemin, hyperviseur, vm, *points, bilan);
            });
            return true;
        });
        taches.attendre();
    }
    if (bilan.resultat != LectureSauvegarde::Lue && bilan.resultat != LectureSauvegarde::Interrompue)
        bilan.erreur = lecture.erreur();
    return bilan;
}

void ArchivageSauvegarde::echouer(const QString &chemin, const QString &erreur, Bilan &bilan)
{
    std::lock_guard<std::mutex> garde(m_verrou);
    ++bilan.seriesEnEchec;
    if (bilan.erreur.isEmpty())
        bilan.erreur = QStringLiteral("%1 : %2").arg(chemin, erreur);
}

void ArchivageSauvegarde::archiverSerie(const QString &chemin, const QString &hyperviseur, const QString &vm,
                                        const MesuresSerie &mesures, Bilan &bilan)
{
    QString erreur;
    const qint64 derniere = preparer(chemin, hyperviseur, vm, mesures.points.front().temps, erreur);
    if (derniere < 0) {
        echouer(chemin, erreur, bilan);
        return;
    }
    const auto premier = std::upper_bound(mesures.points.begin(), mesures.points.end(), derniere,
                                          [](qint64 temps, const MesuresSerie::Point &point) { return temps < point.temps; });
    const size_t ignorees = size_t(premier - mesures.points.begin());
    const bool ecrit = ignorees == mesures.points.size() || FichierRrd::mettreAJour(chemin, mesures, ignorees, erreur);
    if (!ecrit) {
        {
            // What RRDtool took before it failed is unknown: read again next time.
            std::lock_guard<std::mutex> garde(m_verrou);
            m_dernieres.remove(chemin);
        }
        echouer(chemin, erreur, bilan);
        return;
    }
    std::lock_guard<std::mutex> garde(m_verrou);
    bilan.ignorees += qint64(ignorees);
    bilan.mesures += qint64(mesures.points.size() - ignorees);
    m_dernieres.insert(chemin, qMax(derniere, mesures.points.back().temps));
}

qint64 ArchivageSauvegarde::preparer(const QString &chemin, const QString &hyperviseur, const QString &vm,
                                     qint64 premier, QString &erreur)
{
    {
        std::lock_guard<std::mutex> garde(m_verrou);
        const auto connue = m_dernieres.constFind(chemin);
        if (connue != m_dernieres.constEnd())
            return connue.value();
    }
    if (QFileInfo::exists(chemin)) {
        const qint64 derniere = LectureRrd::derniereMiseAJour(chemin);
        if (derniere < 0)
            erreur = QStringLiteral("fichier RRD illisible");
        return derniere;
    }
    const QString dossier = FichierArchive::dossierHyperviseur(m_archive, hyperviseur);
    {
        std::lock_guard<std::mutex> garde(m_verrou);
        if (!m_dossiers.contains(dossier)) {
            if (!QDir().mkpath(dossier)) {
                erreur = QStringLiteral("dossier impossible à créer");
                return -1;
            }
            m_dossiers.insert(dossier);
        }
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
    return avant;
}
