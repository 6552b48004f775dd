// SPDX-License-Identifier: MIT
#ifndef LECTURESAUVEGARDE_H
#define LECTURESAUVEGARDE_H

#include "MesuresSerie.h"

#include <QString>

#include <functional>

// Reads one backup file, opened read-only, series by series: each host's
// rows, then each VM's (a VM is its host's name and its own), in time order.
// Rows of one sample (a report split over several datagrams, a repeat)
// make one point, each value the first one given. Rows without a number as
// time are left out.
class LectureSauvegarde
{
public:
    enum Resultat {
        Lue,
        // Not an SQLite database, damaged, or not a backup's schema.
        Illisible,
        // The system failed (memory, I/O...): the file may read later.
        Echec,
        // The callback asked to stop.
        Interrompue,
    };

    // `vm` is null for the host's own series; returns false to stop.
    using Serie = std::function<bool(const QString &hyperviseur, const QString &vm, MesuresSerie &mesures)>;

    Resultat lire(const QString &chemin, const Serie &serie);
    // SQLite's text for the last Illisible or Echec.
    QString erreur() const { return m_erreur; }

private:
    QString m_erreur;
};

#endif
