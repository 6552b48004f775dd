// SPDX-License-Identifier: MIT
#ifndef ALERTE_H
#define ALERTE_H

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <limits>

enum class EtatAlerte { Ok, Avertissement, Critique, Inconnu };

// One (rule, hypervisor[, VM]) as the evaluator last judged it: what the
// page, /metrics and the notifiers are given.
struct Alerte
{
    QString alertname;
    QString hyperviseur;
    QString vm; // empty for a hypervisor's rule
    EtatAlerte etat = EtatAlerte::Ok;
    double valeur = std::numeric_limits<double>::quiet_NaN();
    double seuil = std::numeric_limits<double>::quiet_NaN();
    qint64 depuis = 0; // ms since the epoch, when it entered this state
    bool silence = false;  // inside a maintenance window
    bool instable = false; // changing too often to be notified at each change

    // "ok", "avertissement", "critique", "inconnu".
    static QString nomEtat(EtatAlerte etat);
    QString severity() const { return nomEtat(etat); }
    bool declenchee() const { return etat == EtatAlerte::Avertissement || etat == EtatAlerte::Critique; }

    // As /api/alertes gives it, and as the state directory keeps it.
    QJsonObject json() const;
    static Alerte lire(const QJsonObject &objet);
};

Q_DECLARE_METATYPE(Alerte)

#endif
