// SPDX-License-Identifier: MIT
#ifndef LECTEURHISTORIQUE_H
#define LECTEURHISTORIQUE_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Reads a hypervisor's history from the collector's hourly backup files,
// opened read-only (never created, never written), and thins each series to
// at most pointsMaximum averaged points. Safe from any thread: each call
// opens its own connections, in the threads it starts (up to filsMaximum,
// the one that calls included).
class LecteurHistorique
{
public:
    static constexpr int pointsMaximum = 1500;
    // A file holds what arrived in the hour or so before its name's time
    // stamp (the collector's local time), the agents' clocks may drift: files
    // are chosen with this much to spare, seconds, and rows by their time.
    static constexpr qint64 marge = 600;
    static constexpr qint64 dureeFichierMaximum = 3600;
    static constexpr int filsMaximum = 2;

    struct Fichier
    {
        QString chemin;
        qint64 horodatage = 0; // Unix seconds
    };

    // The backup files of `dossier` that may hold reports timed in [depuis, jusqua], oldest first.
    static QVector<Fichier> fichiers(const QString &dossier, qint64 depuis, qint64 jusqua);

    // JSON: {nom, depuis, jusqua, pas, fichiers, illisibles, hyperviseur{t[], cpu[]...}, vms[{nom, uuid, t[], ...}]}.
    static QByteArray lire(const QString &dossier, const QString &nom, qint64 depuis, qint64 jusqua,
                           int points = pointsMaximum);
};

#endif
