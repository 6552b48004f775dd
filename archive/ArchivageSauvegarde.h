// SPDX-License-Identifier: MIT
#ifndef ARCHIVAGESAUVEGARDE_H
#define ARCHIVAGESAUVEGARDE_H

#include "LectureSauvegarde.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <mutex>

// Rolls backup files into the archive, one series at a time: each series'
// points of a file go to its RRD file in one update, created when the
// series first appears. RRDtool takes no point at or before a file's last
// update: those are counted, not written. The backup is read in this
// thread while a few others update the RRD files, each its own: an update
// mostly waits for the pages of its file.
class ArchivageSauvegarde
{
public:
    struct Bilan
    {
        LectureSauvegarde::Resultat resultat = LectureSauvegarde::Lue;
        qint64 hyperviseurs = 0;
        qint64 vms = 0;
        qint64 mesures = 0;  // points written
        qint64 ignorees = 0; // points at or before their series' last update
        qint64 seriesEnEchec = 0;
        // The reading's error, or the first series' that failed.
        QString erreur;

        bool complet() const { return resultat == LectureSauvegarde::Lue && seriesEnEchec == 0; }
    };

    // `arret`, when given, is read between series: once true, the file is
    // left, Interrompue, with what was written so far.
    explicit ArchivageSauvegarde(const QString &archive, const std::atomic_bool *arret = nullptr);

    Bilan archiver(const QString &sauvegarde);

private:
    static constexpr int fils = 4;

    void archiverSerie(const QString &chemin, const QString &hyperviseur, const QString &vm, const MesuresSerie &mesures,
                       Bilan &bilan);
    void echouer(const QString &chemin, const QString &erreur, Bilan &bilan);
    // The series' last update, the file made first when there is none.
    qint64 preparer(const QString &chemin, const QString &hyperviseur, const QString &vm, qint64 premier,
                    QString &erreur);

    QString m_archive;
    const std::atomic_bool *m_arret;
    std::mutex m_verrou; // the members below, and the Bilan being made
    // What this process knows of its files, so that each is opened once per
    // backup: the archive has no other writer.
    QHash<QString, qint64> m_dernieres;
    QSet<QString> m_dossiers;
};

#endif
