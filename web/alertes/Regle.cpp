// SPDX-License-Identifier: MIT
#include "Regle.h"

#include "ClesRapport.h"

#include <algorithm>
#include <cmath>

namespace {

const QString injoignable = QStringLiteral("HyperviseurInjoignable");
const QString arretee = QStringLiteral("VmArretee");

const ClesRapport::Cle *trouver(TypeRegle type, const QString &mesure)
{
    const QVector<ClesRapport::Cle> &cles =
        type == TypeRegle::MesureVm ? ClesRapport::mesuresVM() : ClesRapport::mesuresHyperviseur();
    const auto cle = std::find_if(cles.cbegin(), cles.cend(), [&mesure](const ClesRapport::Cle &c) {
        return c.nom == mesure && c.unite != ClesRapport::Unite::EtatLibvirt;
    });
    return cle != cles.cend() ? &*cle : nullptr;
}

Regle regleSeuil(const QString &nom, TypeRegle type, QLatin1String mesure, double avertissement, double critique, int minutes)
{
    Regle regle;
    regle.nom = nom;
    regle.type = type;
    regle.mesure = mesure;
    regle.avertissement = avertissement;
    regle.critique = critique;
    regle.pour = qint64(minutes) * 60000;
    return regle;
}

} // namespace

double Regle::seuil(EtatAlerte niveau) const
{
    return niveau == EtatAlerte::Critique ? critique : niveau == EtatAlerte::Avertissement ? avertissement : aucun;
}

double Regle::retourDe(EtatAlerte niveau) const
{
    // The warning's clear value, or the critical one's when it has no warning.
    const double premier = std::isfinite(avertissement) ? avertissement : critique;
    const double ecart = std::isfinite(retour) ? sens * (premier - retour) : ecartRetourParDefaut;
    return seuil(niveau) - sens * ecart;
}

bool Regle::valeurPossible(double valeur) const
{
    const ClesRapport::Cle *cle = trouver(type, mesure);
    if (!cle)
        return true;
    switch (cle->unite) {
    case ClesRapport::Unite::Pourcent: return valeur >= 0 && valeur <= 100;
    case ClesRapport::Unite::Celsius: return valeur >= -40 && valeur <= 150;
    default: return valeur >= 0;
    }
}

bool Regle::mesureConnue(TypeRegle type, const QString &mesure)
{
    return trouver(type, mesure) != nullptr;
}

bool Regle::estSpeciale(const QString &nom)
{
    return nom == injoignable || nom == arretee;
}

QVector<Regle> Regle::parDefaut()
{
    using namespace ClesRapport;
    QVector<Regle> regles{
        regleSeuil(QStringLiteral("HyperviseurCpu"), TypeRegle::MesureHyperviseur, cpu, 85, 95, 10),
        regleSeuil(QStringLiteral("HyperviseurRam"), TypeRegle::MesureHyperviseur, ram, 90, 95, 5),
        regleSeuil(QStringLiteral("HyperviseurDisque"), TypeRegle::MesureHyperviseur, disque, 85, 95, 0),
        regleSeuil(QStringLiteral("HyperviseurTemperatureCpu"), TypeRegle::MesureHyperviseur, temperatureCpu, 85, 95, 2),
        regleSeuil(QStringLiteral("HyperviseurTemperatureCarteMere"), TypeRegle::MesureHyperviseur, temperatureCarteMere, 60, 70, 5),
    };
    Regle silence;
    silence.nom = injoignable;
    silence.type = TypeRegle::HyperviseurInjoignable;
    regles.append(silence);
    Regle vm;
    vm.nom = arretee;
    vm.type = TypeRegle::VmArretee;
    regles.append(vm);
    regles.append(regleSeuil(QStringLiteral("VmCpu"), TypeRegle::MesureVm, cpu, 95, aucun, 15));
    return regles;
}
