// SPDX-License-Identifier: MIT
#ifndef CLESRAPPORT_H
#define CLESRAPPORT_H

#include <QLatin1String>
#include <QStringList>
#include <QVector>

// The report's keys and their units, fixed so that every program can rely on
// them: the agents write them, the store keeps them as columns of the same
// names, the dashboard and /metrics read them. A key left out of a report is
// absent, never 0.
namespace ClesRapport {

enum class Unite {
    Texte,
    SecondesUnix, // Unix time, seconds (UTC)
    Pourcent,     // 0 to 100
    Celsius,
    MbitParSeconde, // 10^6 bit/s
    Kibioctets,
    EtatLibvirt, // libvirt's domain state, 0 to 7
};

struct Cle
{
    QLatin1String nom;
    Unite unite;
    // As agents write them; -1 for an integer or a text.
    int decimales;
};

constexpr QLatin1String nom("name");
constexpr QLatin1String temps("time");
constexpr QLatin1String cpu("cpu");
constexpr QLatin1String ram("ram");
constexpr QLatin1String disque("disk");
constexpr QLatin1String reseau("network");
constexpr QLatin1String temperatureCpu("cputemp");
constexpr QLatin1String temperatureCarteMere("mbtemp");
constexpr QLatin1String vms("vms");
constexpr QLatin1String uuid("uuid");
constexpr QLatin1String etat("state");
constexpr QLatin1String ramMax("maxram");

// In the order of the backup file's columns (name and time first).
const QVector<Cle> &hyperviseur();
const QVector<Cle> &vm();
// The measures alone: the keys above less name and time, less name and uuid.
const QVector<Cle> &mesuresHyperviseur();
const QVector<Cle> &mesuresVM();

QStringList noms(const QVector<Cle> &cles);
// "%", "°C", "Mbit/s", "KiB", "s", or empty.
QString symbole(Unite unite);

} // namespace ClesRapport

#endif
