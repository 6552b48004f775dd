// SPDX-License-Identifier: MIT
#ifndef LECTURERRD_H
#define LECTURERRD_H

#include <QString>
#include <QStringList>

#include <vector>

// Reads an RRDtool file, never writes it (rrd_fetch and rrd_last open it
// read-only), through librrd's thread-safe calls: each function may be
// called from any thread, on different files at once. The dashboard links
// this part of the archive alone.
class LectureRrd
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

    // The rows of `fonction` covering [debut, fin], from the tier whose step
    // is nearest `resolution` seconds among those that hold all of it
    // (rrd_fetch's choice; the coarsest tier when none does).
    static bool lire(const QString &chemin, const QString &fonction, qint64 debut, qint64 fin, qint64 resolution,
                     Lecture &lecture, QString &erreur);
    // The time of the last update; -1 when the file cannot be read.
    static qint64 derniereMiseAJour(const QString &chemin);
    // librrd's text for the last call that failed in this thread, then cleared.
    static QString erreur();
};

#endif
