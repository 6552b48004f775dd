// SPDX-License-Identifier: MIT
#ifndef LECTEURARCHIVE_H
#define LECTEURARCHIVE_H

#include <QString>
#include <QStringList>
#include <QVector>

// Reads a hypervisor's series and its VMs' from the archive, over a time
// range, at the finest tier that holds all of it. Safe from any thread.
class LecteurArchive
{
public:
    struct Serie
    {
        QString nom;
        qint64 pas = 0; // seconds per row
        // Each row's end: a row holds the values reported in (t - pas, t].
        QVector<qint64> temps;
        QStringList sources;
        // [source][row]; NaN where unknown.
        QVector<QVector<double>> moyennes;
        QVector<QVector<double>> maximums;
    };

    struct Historique
    {
        bool trouve = false; // the hypervisor is in the archive
        Serie hyperviseur;
        QVector<Serie> vms; // by name
        // Files that could not be read, with RRDtool's text.
        QStringList erreurs;
    };

    // `resolution`: the step wanted, seconds; of the tiers that hold all of
    // the range, the one whose step is nearest. Only the VMs named in `vms`
    // (those of them in the archive) when it is not null.
    static Historique lire(const QString &archive, const QString &hyperviseur, qint64 depuis, qint64 jusqua,
                           qint64 resolution = 1, const QStringList *vms = nullptr);
    // The names of the hypervisor's VMs in the archive, sorted.
    static QStringList vms(const QString &archive, const QString &hyperviseur);

private:
    static bool lireSerie(const QString &chemin, qint64 depuis, qint64 jusqua, qint64 resolution, Serie &serie,
                          QString &erreur);
};

#endif
