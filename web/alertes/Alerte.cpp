// SPDX-License-Identifier: MIT
#include "Alerte.h"

#include <QJsonValue>

#include <cmath>

namespace {

QJsonValue nombre(double valeur)
{
    return std::isfinite(valeur) ? QJsonValue(valeur) : QJsonValue();
}

double lireNombre(const QJsonValue &valeur)
{
    return valeur.isDouble() ? valeur.toDouble() : std::numeric_limits<double>::quiet_NaN();
}

} // namespace

QString Alerte::nomEtat(EtatAlerte etat)
{
    switch (etat) {
    case EtatAlerte::Ok: return QStringLiteral("ok");
    case EtatAlerte::Avertissement: return QStringLiteral("avertissement");
    case EtatAlerte::Critique: return QStringLiteral("critique");
    case EtatAlerte::Inconnu: return QStringLiteral("inconnu");
    }
    return QString();
}

QJsonObject Alerte::json() const
{
    return QJsonObject{{QStringLiteral("alertname"), alertname},
                       {QStringLiteral("severity"), severity()},
                       {QStringLiteral("hyperviseur"), hyperviseur},
                       {QStringLiteral("vm"), vm},
                       {QStringLiteral("valeur"), nombre(valeur)},
                       {QStringLiteral("seuil"), nombre(seuil)},
                       {QStringLiteral("depuis"), double(depuis)},
                       {QStringLiteral("silence"), silence},
                       {QStringLiteral("instable"), instable}};
}

Alerte Alerte::lire(const QJsonObject &objet)
{
    Alerte a;
    a.alertname = objet.value(QStringLiteral("alertname")).toString();
    a.hyperviseur = objet.value(QStringLiteral("hyperviseur")).toString();
    a.vm = objet.value(QStringLiteral("vm")).toString();
    const QString severity = objet.value(QStringLiteral("severity")).toString();
    for (EtatAlerte etat : {EtatAlerte::Avertissement, EtatAlerte::Critique, EtatAlerte::Inconnu}) {
        if (severity == nomEtat(etat))
            a.etat = etat;
    }
    a.valeur = lireNombre(objet.value(QStringLiteral("valeur")));
    a.seuil = lireNombre(objet.value(QStringLiteral("seuil")));
    a.depuis = qint64(objet.value(QStringLiteral("depuis")).toDouble());
    a.silence = objet.value(QStringLiteral("silence")).toBool();
    a.instable = objet.value(QStringLiteral("instable")).toBool();
    return a;
}
