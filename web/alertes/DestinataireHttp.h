// SPDX-License-Identifier: MIT
#ifndef DESTINATAIREHTTP_H
#define DESTINATAIREHTTP_H

#include "Destinataire.h"

#include <QNetworkAccessManager>
#include <QUrl>

// An Alertmanager (its API v2, reminded of firing alerts every minute, as
// it expects) or a plain webhook (Alertmanager's own webhook body, one POST
// per change), over HTTP.
class DestinataireHttp : public Destinataire
{
    Q_OBJECT

public:
    enum Format { Alertmanager, Webhook };
    // An answer that takes longer is a failure.
    static constexpr int delaiReponse = 10000;

    // `url`: Alertmanager's base address (http://hôte:9093) or the webhook's own.
    DestinataireHttp(Format format, const QUrl &url, const QString &urlExterne, QObject *parent = nullptr);

    void rappeler(const QVector<NotificationAlerte> &enCours) override;
    QUrl cible() const { return m_cible; }

protected:
    QByteArray message(const QVector<NotificationAlerte> &alertes) const override;
    void transmettre(const QByteArray &corps) override;

private:
    Format m_format;
    QUrl m_cible;
    QString m_urlExterne;
    QNetworkAccessManager m_reseau;
};

#endif
