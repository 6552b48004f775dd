// SPDX-License-Identifier: MIT
#ifndef SERIESCUMULEES_H
#define SERIESCUMULEES_H

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

#include <array>
#include <cmath>

// Where a history's values fall: bins (origine + k pas, origine + (k + 1) pas],
// each known by its end as the archive's rows are, so that a bin of the raw
// files and a row of the archive cover the same seconds. Only values timed
// in [min, max] are taken.
struct GrilleHistorique
{
    qint64 origine = 0;
    qint64 pas = 1;
    qint64 min = 0;
    qint64 max = 0;

    qint64 fin(double temps) const
    {
        return origine + qint64(std::ceil((temps - double(origine)) / double(pas))) * pas;
    }
    bool contient(double temps) const { return temps >= double(min) && temps <= double(max); }
};

// One bin of a series: its rows' times and, per measure, the sum and count
// of its values. A value that is not a number is left out of the average,
// never counted as 0.
struct Cumul
{
    static constexpr int mesuresMaximum = 8;

    qint64 lignes = 0;
    double sommeTemps = 0;
    std::array<double, mesuresMaximum> somme{};
    std::array<qint64, mesuresMaximum> nombre{};

    void ajouterLigne(double temps)
    {
        ++lignes;
        sommeTemps += temps;
    }
    void ajouter(int mesure, double valeur)
    {
        if (!std::isfinite(valeur))
            return;
        somme[size_t(mesure)] += valeur;
        ++nombre[size_t(mesure)];
    }
    void ajouter(const Cumul &autre);
};

// Which VMs' series a history takes: all, one by its name, or none.
struct ChoixVMs
{
    enum Mode { Toutes, Une, Aucune };
    Mode mode = Toutes;
    QString nom;

    bool garde(const QString &vm) const { return mode == Toutes || (mode == Une && vm == nom); }
};

// By each bin's end.
using SerieCumulee = QMap<qint64, Cumul>;

struct SerieVMCumulee
{
    QString nom;
    QString uuid;
    SerieCumulee cumuls;
};

// A hypervisor's series and its VMs', as one source's rows are added up,
// in the measures' order of ClesRapport. A VM is known by its name, as the
// archive knows it; its uuid is the first one seen.
struct SeriesCumulees
{
    SerieCumulee hyperviseur;
    QHash<QByteArray, SerieVMCumulee> vms; // by the name's UTF-8 bytes
    qint64 lignes = 0;                     // the hypervisor's rows taken

    // Found by the name as SQLite hands it, without a copy for each row.
    SerieVMCumulee &vm(const char *nom, int tailleNom, const char *uuid, int tailleUuid);
    void ajouter(const SeriesCumulees &autre);
};

#endif
