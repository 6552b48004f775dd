// SPDX-License-Identifier: MIT
#ifndef MESSAGESALERTES_H
#define MESSAGESALERTES_H

#include "NotificationAlerte.h"

#include <QByteArray>
#include <QVector>

// The bodies receivers are sent, each in a format they already read:
// Alertmanager's API v2, Alertmanager's own webhook (version 4), and a mail
// for `sendmail -t`.
namespace MessagesAlertes {

// POST /api/v2/alerts: a firing alert has no endsAt, so that Alertmanager
// resolves it by itself if it stops being sent.
QByteArray alertmanager(const QVector<NotificationAlerte> &alertes, const QString &urlExterne);
QByteArray webhook(const QVector<NotificationAlerte> &alertes, const QString &recepteur, const QString &urlExterne);
// The address must be one: no space, no line break.
QByteArray courriel(const QVector<NotificationAlerte> &alertes, const QString &adresse, const QString &urlExterne);
bool adresseValide(const QString &adresse);

// RFC 3339 in UTC, to the millisecond.
QString instant(qint64 ms);

} // namespace MessagesAlertes

#endif
