// SPDX-License-Identifier: MIT
#ifndef FICHIERRRD_H
#define FICHIERRRD_H

#include "MesuresSerie.h"

#include <QString>
#include <QStringList>

#include <vector>

// One RRDtool file, through librrd's thread-safe calls (no at-style times,
// no shared error state between threads): each function may be called from
// any thread, on different files at once.
class FichierRrd
{
public:
    // What rrd_fetch gives back: rows ending at debut + pas, debut + 2 pas...
    // fin, with as many values per row as sources.
    struct Lecture
    {
        qint64 debut = 0;
        qint64 fin = 0;
        qint64 pas = 0;
        QStringList sources;
        std::vector<double> valeurs;

        int lignes() const { return sources.isEmpty() ? 0 : int(valeurs.size() / size_t(sources.size())); }
        double valeur(int ligne, int source) const { return valeurs[size_t(ligne) * size_t(sources.size()) + size_t(source)]; }
    };

    // With FichierArchive's tiers; the first update must come after `avant`.
    static bool creer(const QString &chemin, const QStringList &sources, qint64 avant, QString &erreur);
    // The time of the last update; -1 when the file cannot be read.
    static qint64 derniereMiseAJour(const QString &chemin);
    // Points [premier, mesures.points.size()), in one call; each one after
    // the file's last update.
    static bool mettreAJour(const QString &chemin, const MesuresSerie &mesures, size_t premier, QString &erreur);
    // The rows of `fonction` covering [debut, fin] at the finest tier that
    // covers them all and is no finer than `resolution` seconds.
    static bool lire(const QString &chemin, const QString &fonction, qint64 debut, qint64 fin, qint64 resolution,
                     Lecture &lecture, QString &erreur);
};

#endif
