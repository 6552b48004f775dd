// SPDX-License-Identifier: MIT
#ifndef NOTIFICATIONALERTE_H
#define NOTIFICATIONALERTE_H

#include "Alerte.h"

#include <QJsonObject>
#include <QString>

// What receivers are told of one alert, in Alertmanager's terms: its labels,
// its French annotations, when it started and, once resolved, when it ended.
struct NotificationAlerte
{
    QString alertname;
    QString severity;
    QString hyperviseur;
    QString vm;
    QString summary;
    QString description;
    qint64 debut = 0; // startsAt, ms since the epoch
    qint64 fin = 0;   // endsAt; 0 while firing

    // Labels and severity as the alert has them now; unstable, it is told as a warning at least.
    static NotificationAlerte depuis(const Alerte &alerte);
    // alertname, hyperviseur and vm: the alert whatever its severity.
    static QString cle(const Alerte &alerte);
    QString cle() const;
    // As Alertmanager's: 16 hex digits from the labels.
    QString empreinte() const;
    bool resolue() const { return fin > 0; }

    QJsonObject etiquettes() const;
    QJsonObject annotations() const;
    QJsonObject json() const;
    static NotificationAlerte lire(const QJsonObject &objet);
};

#endif
