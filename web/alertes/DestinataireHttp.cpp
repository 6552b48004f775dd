// SPDX-License-Identifier: MIT
#include "DestinataireHttp.h"

#include "MessagesAlertes.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString nomDe(DestinataireHttp::Format format, const QUrl &url)
{
    return (format == DestinataireHttp::Alertmanager ? QStringLiteral("Alertmanager ") : QStringLiteral("webhook "))
           + url.toDisplayString(QUrl::RemoveUserInfo);
}

QUrl cibleDe(DestinataireHttp::Format format, QUrl url)
{
    if (format == DestinataireHttp::Alertmanager) {
        QString chemin = url.path();
        while (chemin.endsWith(QLatin1Char('/')))
            chemin.chop(1);
        url.setPath(chemin + QStringLiteral("/api/v2/alerts"));
    }
    return url;
}

} // namespace

DestinataireHttp::DestinataireHttp(Format format, const QUrl &url, const QString &urlExterne, QObject *parent)
    : Destinataire(nomDe(format, url), parent)
    , m_format(format)
    , m_cible(cibleDe(format, url))
    , m_urlExterne(urlExterne)
{
}

QByteArray DestinataireHttp::message(const QVector<NotificationAlerte> &alertes) const
{
    return m_format == Alertmanager ? MessagesAlertes::alertmanager(alertes, m_urlExterne)
                                    : MessagesAlertes::webhook(alertes, nom(), m_urlExterne);
}

void DestinataireHttp::rappeler(const QVector<NotificationAlerte> &enCours)
{
    // While messages wait, the next one will tell it soon enough.
    if (m_format == Alertmanager && !enCours.isEmpty() && !occupe())
        deposer(message(enCours));
}

void DestinataireHttp::transmettre(const QByteArray &corps)
{
    QNetworkRequest requete(m_cible);
    requete.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    requete.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("collecteur-web"));
    requete.setTransferTimeout(delaiReponse);
    QNetworkReply *reponse = m_reseau.post(requete, corps);
    connect(reponse, &QNetworkReply::finished, this, [this, reponse]() {
        reponse->deleteLater();
        const int statut = reponse->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (statut >= 200 && statut < 300) {
            terminer(Remis);
            return;
        }
        const QString erreur = statut > 0 ? QStringLiteral("HTTP %1 %2").arg(statut).arg(
                                                reponse->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                                          : reponse->errorString();
        // The same body would be refused again: only the receiver's own
        // trouble (5xx, too many requests, a timeout) is worth a retry.
        const bool refuse = statut >= 400 && statut < 500 && statut != 408 && statut != 429;
        terminer(refuse ? Refuse : Echoue, erreur.trimmed());
    });
}
