// SPDX-License-Identifier: MIT
#include "ExpositionAlertes.h"

#include "ExpositionMetriques.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray ExpositionAlertes::json(const QVector<Alerte> &alertes, quint64 valeursImpossibles, qint64 maintenant)
{
    QJsonArray liste;
    for (const Alerte &alerte : alertes)
        liste.append(alerte.json());
    return QJsonDocument(QJsonObject{{QStringLiteral("maintenant"), double(maintenant)},
                                     {QStringLiteral("valeursImpossibles"), double(valeursImpossibles)},
                                     {QStringLiteral("alertes"), liste}})
        .toJson(QJsonDocument::Compact);
}

QByteArray ExpositionAlertes::metriques(const QVector<Alerte> &alertes, quint64 valeursImpossibles)
{
    QByteArray texte = "# HELP collecteur_alerte Alerte déclenchée (1 tant qu'elle l'est), comme ALERTS de Prometheus.\n"
                       "# TYPE collecteur_alerte gauge\n";
    for (const Alerte &alerte : alertes) {
        if (!alerte.declenchee())
            continue;
        texte += "collecteur_alerte{alertname=" + ExpositionMetriques::etiquette(alerte.alertname)
                 + ",severity=" + ExpositionMetriques::etiquette(alerte.severity())
                 + ",hyperviseur=" + ExpositionMetriques::etiquette(alerte.hyperviseur)
                 + ",vm=" + ExpositionMetriques::etiquette(alerte.vm) + "} 1\n";
    }
    texte += "# HELP collecteur_alertes_valeurs_impossibles_total Valeurs qu'aucun capteur ne peut donner "
             "(règle inconnue pour l'hôte).\n"
             "# TYPE collecteur_alertes_valeurs_impossibles_total counter\n"
             "collecteur_alertes_valeurs_impossibles_total "
             + QByteArray::number(valeursImpossibles) + '\n';
    return texte;
}
