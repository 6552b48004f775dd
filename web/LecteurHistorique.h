// SPDX-License-Identifier: MIT
#ifndef LECTEURHISTORIQUE_H
#define LECTEURHISTORIQUE_H

#include "SeriesCumulees.h"

#include <QString>
#include <QVector>

// Reads a hypervisor's history from the collector's hourly backup files,
// opened read-only (never created, never written), into a grid's bins.
// Safe from any thread: each call opens its own connections, in the threads
// it starts (up to filsMaximum, the one that calls included).
class LecteurHistorique
{
public:
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
    // Where the raw files begin: the earliest report time in the oldest file
    // that can be read; -1 when there is none.
    static qint64 debut(const QString &dossier);

    // Adds the rows of hypervisor `nom` timed in the grid's [min, max], and
    // those of the VMs chosen, to `series`. Returns how many files could not
    // be read.
    static int lire(const QVector<Fichier> &fichiers, const QString &nom, const ChoixVMs &vms,
                    const GrilleHistorique &grille, SeriesCumulees &series);
};

#endif
