// SPDX-License-Identifier: MIT
#ifndef REGLE_H
#define REGLE_H

#include "Alerte.h"

#include <QString>
#include <QVector>

#include <limits>

enum class TypeRegle { MesureHyperviseur, MesureVm, HyperviseurInjoignable, VmArretee };

// An alert rule. A threshold rule compares one measure of each hypervisor
// (or of each of its VMs) with a warning and a critical value; the special
// kinds judge a host's silence and its VMs' libvirt states.
struct Regle
{
    static constexpr double aucun = std::numeric_limits<double>::quiet_NaN();
    // The default clear value lies this far under the threshold (over, for <=).
    static constexpr double ecartRetourParDefaut = 5;

    QString nom; // the alertname
    TypeRegle type = TypeRegle::MesureHyperviseur;
    QString mesure;
    int sens = 1; // 1 for >=, -1 for <=
    double avertissement = aucun;
    double critique = aucun;
    qint64 pour = 0; // ms the condition must hold before the rule fires
    double retour = aucun; // the warning's clear value; aucun: 5 points off
    bool active = true;

    bool estSeuil() const { return type == TypeRegle::MesureHyperviseur || type == TypeRegle::MesureVm; }
    // aucun when the rule has no such level.
    double seuil(EtatAlerte niveau) const;
    // The value the measure must pass back over for the level to end.
    double retourDe(EtatAlerte niveau) const;
    // False for a value no sensor can give: a percentage outside 0…100, a
    // temperature outside −40…150 °C, a negative rate or size.
    bool valeurPossible(double valeur) const;

    static bool mesureConnue(TypeRegle type, const QString &mesure);
    static bool estSpeciale(const QString &nom);
    // The stock rules, all on.
    static QVector<Regle> parDefaut();
};

#endif
