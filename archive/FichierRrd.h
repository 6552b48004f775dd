// SPDX-License-Identifier: MIT
#ifndef FICHIERRRD_H
#define FICHIERRRD_H

#include "MesuresSerie.h"

#include <QString>
#include <QStringList>

// Writes one RRDtool file, through librrd's thread-safe calls (no at-style
// times, no shared error state between threads): each function may be
// called from any thread, on different files at once. LectureRrd reads it.
class FichierRrd
{
public:
    // With FichierArchive's tiers; the first update must come after `avant`.
    static bool creer(const QString &chemin, const QStringList &sources, qint64 avant, QString &erreur);
    // Points [premier, mesures.points.size()), in one call; each one after
    // the file's last update.
    static bool mettreAJour(const QString &chemin, const MesuresSerie &mesures, size_t premier, QString &erreur);
};

#endif
