// SPDX-License-Identifier: MIT
#include "ClesRapport.h"

namespace ClesRapport {

const QVector<Cle> &hyperviseur()
{
    static const QVector<Cle> cles{
        {nom, Unite::Texte, -1},
        {temps, Unite::SecondesUnix, -1},
        {temperatureCpu, Unite::Celsius, 1},
        {temperatureCarteMere, Unite::Celsius, 1},
        {cpu, Unite::Pourcent, 1},
        {ram, Unite::Pourcent, 1},
        {disque, Unite::Pourcent, 1},
        {reseau, Unite::MbitParSeconde, 2},
    };
    return cles;
}

const QVector<Cle> &vm()
{
    static const QVector<Cle> cles{
        {nom, Unite::Texte, -1},
        {uuid, Unite::Texte, -1},
        {etat, Unite::EtatLibvirt, -1},
        {cpu, Unite::Pourcent, 1},
        {ram, Unite::Kibioctets, -1},
        {ramMax, Unite::Kibioctets, -1},
        {reseau, Unite::MbitParSeconde, 2},
    };
    return cles;
}

const QVector<Cle> &mesuresHyperviseur()
{
    static const QVector<Cle> cles = hyperviseur().mid(2);
    return cles;
}

const QVector<Cle> &mesuresVM()
{
    static const QVector<Cle> cles = vm().mid(2);
    return cles;
}

QStringList noms(const QVector<Cle> &cles)
{
    QStringList resultat;
    resultat.reserve(cles.size());
    for (const Cle &cle : cles)
        resultat.append(cle.nom);
    return resultat;
}

QString symbole(Unite unite)
{
    switch (unite) {
    case Unite::SecondesUnix: return QStringLiteral("s");
    case Unite::Pourcent: return QStringLiteral("%");
    case Unite::Celsius: return QStringLiteral("°C");
    case Unite::MbitParSeconde: return QStringLiteral("Mbit/s");
    case Unite::Kibioctets: return QStringLiteral("KiB");
    case Unite::Texte:
    case Unite::EtatLibvirt: break;
    }
    return QString();
}

} // namespace ClesRapport
