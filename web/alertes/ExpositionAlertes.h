// SPDX-License-Identifier: MIT
#ifndef EXPOSITIONALERTES_H
#define EXPOSITIONALERTES_H

#include "Alerte.h"

#include <QByteArray>
#include <QVector>

// The alerts as /api/alertes gives them (JSON, every name a plain string)
// and as /metrics does: one collecteur_alerte series per firing alert, as
// Prometheus' own ALERTS, and the count of impossible values.
class ExpositionAlertes
{
public:
    static QByteArray json(const QVector<Alerte> &alertes, quint64 valeursImpossibles, qint64 maintenant);
    static QByteArray metriques(const QVector<Alerte> &alertes, quint64 valeursImpossibles);
};

#endif
