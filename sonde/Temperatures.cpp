// SPDX-License-Identifier: MIT
#include "Temperatures.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString lireLigne(const QString &fichier)
{
    QFile f(fichier);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.readLine().trimmed());
}

std::optional<double> maximum(std::optional<double> a, std::optional<double> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::max(*a, *b);
}

} // namespace

Temperatures::Temperatures(const QString &racine)
    : m_hwmon(lister(racine + QStringLiteral("/sys/class/hwmon"), QStringLiteral("hwmon"), QStringLiteral("name")))
    , m_zones(lister(racine + QStringLiteral("/sys/class/thermal"), QStringLiteral("thermal_zone"), QStringLiteral("type")))
{
}

QVector<Temperatures::Sonde> Temperatures::lister(const QString &dossier, const QString &prefixe, const QString &fichierNom)
{
    QDir repertoire(dossier);
    QStringList entrees = repertoire.entryList({prefixe + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    // hwmon10 after hwmon9: the first zone of a type is the kernel's first.
    std::sort(entrees.begin(), entrees.end(), [&prefixe](const QString &a, const QString &b) {
        return a.mid(prefixe.size()).toInt() < b.mid(prefixe.size()).toInt();
    });
    QVector<Sonde> sondes;
    for (const QString &entree : entrees) {
        const QString chemin = repertoire.filePath(entree);
        sondes.append({chemin, lireLigne(chemin + QLatin1Char('/') + fichierNom)});
    }
    return sondes;
}

std::optional<double> Temperatures::lireMillidegres(const QString &fichier)
{
    bool ok = false;
    const double valeur = lireLigne(fichier).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return valeur / 1000.0;
}

std::optional<double> Temperatures::entreeEtiquetee(const QString &dossier, const QStringList &etiquettes)
{
    static const QRegularExpression etiquette(QStringLiteral("^temp(\\d+)_label$"));
    QDir repertoire(dossier);
    int meilleur = etiquettes.size();
    std::optional<double> valeur;
    for (const QString &fichier : repertoire.entryList({QStringLiteral("temp*_label")}, QDir::Files)) {
        const QRegularExpressionMatch correspondance = etiquette.match(fichier);
        if (!correspondance.hasMatch())
            continue;
        const int rang = etiquettes.indexOf(lireLigne(repertoire.filePath(fichier)));
        if (rang < 0 || rang >= meilleur)
            continue;
        const auto lue = lireMillidegres(repertoire.filePath(QStringLiteral("temp%1_input").arg(correspondance.captured(1))));
        if (lue) {
            meilleur = rang;
            valeur = lue;
        }
    }
    return valeur;
}

std::optional<double> Temperatures::processeur(QString &absence) const
{
    static const QRegularExpression paquet(QStringLiteral("^temp(\\d+)_label$"));
    std::optional<double> coretemp;
    std::optional<double> k10temp;
    std::optional<double> zenpower;
    for (const Sonde &sonde : m_hwmon) {
        if (sonde.nom == QLatin1String("coretemp")) {
            QDir repertoire(sonde.dossier);
            for (const QString &fichier : repertoire.entryList({QStringLiteral("temp*_label")}, QDir::Files)) {
                const QRegularExpressionMatch correspondance = paquet.match(fichier);
                if (correspondance.hasMatch() && lireLigne(repertoire.filePath(fichier)).startsWith(QLatin1String("Package id ")))
                    coretemp = maximum(coretemp, lireMillidegres(repertoire.filePath(
                                                     QStringLiteral("temp%1_input").arg(correspondance.captured(1)))));
            }
        } else if (sonde.nom == QLatin1String("k10temp")) {
            k10temp = maximum(k10temp, entreeEtiquetee(sonde.dossier, {QStringLiteral("Tdie"), QStringLiteral("Tctl")}));
        } else if (sonde.nom == QLatin1String("zenpower")) {
            zenpower = maximum(zenpower, entreeEtiquetee(sonde.dossier, {QStringLiteral("Tdie"), QStringLiteral("Tctl")}));
        }
    }
    if (coretemp)
        return coretemp;
    if (k10temp)
        return k10temp;
    if (zenpower)
        return zenpower;
    std::optional<double> zone;
    for (const Sonde &sonde : m_zones) {
        if (sonde.nom == QLatin1String("x86_pkg_temp"))
            zone = maximum(zone, lireMillidegres(sonde.dossier + QStringLiteral("/temp")));
    }
    if (!zone)
        absence = QStringLiteral("aucune sonde coretemp, k10temp, zenpower ni zone thermique x86_pkg_temp lisible");
    return zone;
}

std::optional<double> Temperatures::carteMere(QString &absence) const
{
    for (const Sonde &sonde : m_zones) {
        if (sonde.nom == QLatin1String("acpitz")) {
            if (const auto valeur = lireMillidegres(sonde.dossier + QStringLiteral("/temp")))
                return valeur;
        }
    }
    for (const Sonde &sonde : m_hwmon) {
        if (!sonde.nom.startsWith(QLatin1String("nct67")) && !sonde.nom.startsWith(QLatin1String("it87")))
            continue;
        auto valeur = entreeEtiquetee(sonde.dossier, {QStringLiteral("SYSTIN")});
        if (!valeur)
            valeur = lireMillidegres(sonde.dossier + QStringLiteral("/temp1_input"));
        // These chips leave unwired inputs floating at absurd values.
        if (valeur && *valeur >= 0 && *valeur <= 90)
            return valeur;
    }
    absence = QStringLiteral("aucune zone thermique acpitz ni sonde nct67xx ou it87 lisible");
    return std::nullopt;
}
