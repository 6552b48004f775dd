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

// Its length counted by the compiler: Qt 5's QLatin1String(const char *)
// calls strlen, which only some compilers evaluate at compile time.
template <int N>
constexpr QLatin1String cle(const char (&texte)[N])
{
    return QLatin1String(texte, N - 1);
}

constexpr QLatin1String nom = cle("name");
constexpr QLatin1String temps = cle("time");
constexpr QLatin1String cpu = cle("cpu");
constexpr QLatin1String ram = cle("ram");
constexpr QLatin1String disque = cle("disk");
constexpr QLatin1String reseau = cle("network");
constexpr QLatin1String temperatureCpu = cle("cputemp");
constexpr QLatin1String temperatureCarteMere = cle("mbtemp");
constexpr QLatin1String vms = cle("vms");
constexpr QLatin1String uuid = cle("uuid");
constexpr QLatin1String etat = cle("state");
constexpr QLatin1String ramMax = cle("maxram");

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
