// SPDX-License-Identifier: MIT
#ifndef TEMPERATURES_H
#define TEMPERATURES_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The host's temperature sensors, in degrees Celsius, from the hwmon devices
// and thermal zones under `racine`/sys/class. A missing source gives no value
// and the reason, never a made-up 0.
class Temperatures
{
public:
    explicit Temperatures(const QString &racine);

    // The hottest CPU package: coretemp's "Package id N", else k10temp's Tdie
    // or Tctl, else zenpower's, else the x86_pkg_temp thermal zone.
    std::optional<double> processeur(QString &absence) const;
    // The acpitz thermal zone, else a motherboard chip's system sensor
    // (nct67xx or it87: SYSTIN, else temp1) when it reads 0 to 90 °C.
    std::optional<double> carteMere(QString &absence) const;

private:
    struct Sonde
    {
        QString dossier;
        QString nom;
    };

    // The hwmon devices and thermal zones present, with their names or types.
    static QVector<Sonde> lister(const QString &dossier, const QString &prefixe, const QString &fichierNom);
    // The temperature input whose label is one of `etiquettes`, in that order of preference.
    static std::optional<double> entreeEtiquetee(const QString &dossier, const QStringList &etiquettes);
    static std::optional<double> lireMillidegres(const QString &fichier);

    QVector<Sonde> m_hwmon;
    QVector<Sonde> m_zones;
};

#endif
