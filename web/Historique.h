// SPDX-License-Identifier: MIT
#ifndef HISTORIQUE_H
#define HISTORIQUE_H

#include <QString>
#include <QStringList>
#include <QVector>

struct DemandeHistorique
{
    QString sauvegardes;
    QString archive; // empty: none
    QString hyperviseur;
    QString vm; // not null: that VM alone
    bool vms = true; // false: none of them
    qint64 depuis = 0; // Unix seconds, both included
    qint64 jusqua = 0;
    int points = 1500;
};

// One series as shown: its points' times and, per measure in ClesRapport's
// order, their averages (NaN where there is none).
struct SerieHistorique
{
    QString nom;
    QString uuid;
    QVector<qint64> temps;
    QVector<QVector<double>> valeurs; // [measure][point]
};

// Where some of a history's points come from, in time order.
struct SourceHistorique
{
    enum Type { Archive, Fichiers, Journal };
    Type type = Fichiers;
    qint64 resolution = 0; // seconds a point stands for
    qint64 lignes = 0;     // the hypervisor's rows taken from it
    qint64 jusqua = 0;     // the archive: the end of what it gives, the others after it
    qint64 palier = 0;     // the archive: the step of the rows averaged into a point
};

// A hypervisor's history over any range, without holes or points twice:
// the raw backup files where they still are, at their own resolution while
// the range is short enough for it to show; the archive before them, and
// for the longer ranges up to where it ends, at the tier that holds the
// range; then the files not archived yet and the hour in progress from the
// collector's journal. Every source is only read, never written. At most
// `points` points per series. Safe from any thread.
class Historique
{
public:
    static constexpr int pointsMaximum = 1500;
    // Up to this long a range, the raw files are read for all the range they
    // cover, at their own resolution; beyond it, they only follow the
    // archive, and over this much at most.
    static constexpr qint64 dureeDetaillee = 8 * 86400;

    static Historique lire(const DemandeHistorique &demande);

    DemandeHistorique demande;
    qint64 pas = 1; // seconds between the grid's bins
    SerieHistorique hyperviseur;
    QVector<SerieHistorique> vms; // by name
    QVector<SourceHistorique> sources;
    int fichiers = 0; // raw files read
    int illisibles = 0;
    int segments = 0; // of the journal
    QStringList erreurs; // archive files that could not be read
};

#endif
