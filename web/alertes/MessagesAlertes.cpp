// SPDX-License-Identifier: MIT
#include "MessagesAlertes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

// Alertmanager's own "not set".
const QString jamais = QStringLiteral("0001-01-01T00:00:00Z");

QString lienAlertes(const QString &urlExterne)
{
    return urlExterne + QStringLiteral("/#/alertes");
}

QString statut(const NotificationAlerte &n)
{
    return n.resolue() ? QStringLiteral("resolved") : QStringLiteral("firing");
}

// What every alert of the list shares.
QJsonObject communs(const QVector<NotificationAlerte> &alertes, QJsonObject (NotificationAlerte::*partie)() const)
{
    QJsonObject commun = alertes.isEmpty() ? QJsonObject() : (alertes.first().*partie)();
    for (const NotificationAlerte &n : alertes) {
        const QJsonObject objet = (n.*partie)();
        for (auto it = commun.begin(); it != commun.end();) {
            if (objet.value(it.key()) != it.value())
                it = commun.erase(it);
            else
                ++it;
        }
    }
    return commun;
}

QString cleGroupe(const QJsonObject &etiquettes)
{
    QStringList paires;
    for (auto it = etiquettes.constBegin(); it != etiquettes.constEnd(); ++it)
        paires.append(QStringLiteral("%1=\"%2\"").arg(it.key(), it.value().toString()));
    return QStringLiteral("{}:{%1}").arg(paires.join(QStringLiteral(", ")));
}

QByteArray enteteEncode(const QString &texte)
{
    return "=?UTF-8?B?" + texte.toUtf8().toBase64() + "?=";
}

} // namespace

QString MessagesAlertes::instant(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray MessagesAlertes::alertmanager(const QVector<NotificationAlerte> &alertes, const QString &urlExterne)
{
    QJsonArray liste;
    for (const NotificationAlerte &n : alertes) {
        QJsonObject objet{{QStringLiteral("labels"), n.etiquettes()},
                          {QStringLiteral("annotations"), n.annotations()},
                          {QStringLiteral("startsAt"), instant(n.debut)},
                          {QStringLiteral("generatorURL"), lienAlertes(urlExterne)}};
        if (n.resolue())
            objet.insert(QStringLiteral("endsAt"), instant(n.fin));
        liste.append(objet);
    }
    return QJsonDocument(liste).toJson(QJsonDocument::Compact);
}

QByteArray MessagesAlertes::webhook(const QVector<NotificationAlerte> &alertes, const QString &recepteur,
                                    const QString &urlExterne)
{
    QJsonArray liste;
    bool toutesResolues = true;
    for (const NotificationAlerte &n : alertes) {
        toutesResolues = toutesResolues && n.resolue();
        liste.append(QJsonObject{{QStringLiteral("status"), statut(n)},
                                 {QStringLiteral("labels"), n.etiquettes()},
                                 {QStringLiteral("annotations"), n.annotations()},
                                 {QStringLiteral("startsAt"), instant(n.debut)},
                                 {QStringLiteral("endsAt"), n.resolue() ? instant(n.fin) : jamais},
                                 {QStringLiteral("generatorURL"), lienAlertes(urlExterne)},
                                 {QStringLiteral("fingerprint"), n.empreinte()}});
    }
    const QJsonObject etiquettes = communs(alertes, &NotificationAlerte::etiquettes);
    QJsonObject groupe;
    if (etiquettes.contains(QStringLiteral("alertname")))
        groupe.insert(QStringLiteral("alertname"), etiquettes.value(QStringLiteral("alertname")));
    const QJsonObject corps{{QStringLiteral("version"), QStringLiteral("4")},
                            {QStringLiteral("groupKey"), cleGroupe(etiquettes)},
                            {QStringLiteral("truncatedAlerts"), 0},
                            {QStringLiteral("status"), toutesResolues ? QStringLiteral("resolved") : QStringLiteral("firing")},
                            {QStringLiteral("receiver"), recepteur},
                            {QStringLiteral("groupLabels"), groupe},
                            {QStringLiteral("commonLabels"), etiquettes},
                            {QStringLiteral("commonAnnotations"), communs(alertes, &NotificationAlerte::annotations)},
                            {QStringLiteral("externalURL"), urlExterne},
                            {QStringLiteral("alerts"), liste}};
    return QJsonDocument(corps).toJson(QJsonDocument::Compact);
}

bool MessagesAlertes::adresseValide(const QString &adresse)
{
    static const QRegularExpression forme(QStringLiteral("^[^\\s@<>,;\"]+@[^\\s@<>,;\"]+$"));
    return forme.match(adresse).hasMatch();
}

QByteArray MessagesAlertes::courriel(const QVector<NotificationAlerte> &alertes, const QString &adresse,
                                     const QString &urlExterne)
{
    QString sujet;
    QString texte;
    for (const NotificationAlerte &n : alertes) {
        const QString etat = n.resolue() ? QStringLiteral("résolue") : n.severity;
        if (sujet.isEmpty())
            sujet = QStringLiteral("[collecteur] %1 : %2").arg(etat, n.summary);
        texte += QStringLiteral("%1 : %2\n%3\nDébut : %4\n").arg(etat, n.summary, n.description, instant(n.debut));
        if (n.resolue())
            texte += QStringLiteral("Fin : %1\n").arg(instant(n.fin));
        texte += QLatin1Char('\n');
    }
    if (alertes.size() > 1)
        sujet += QStringLiteral(" (et %1 autres)").arg(alertes.size() - 1);
    texte += QStringLiteral("Alertes en cours : %1\n").arg(lienAlertes(urlExterne));
    // Names come from the agents: they stay in the body, and the subject is
    // encoded, so that no line break of theirs can add a header.
    return "To: " + adresse.toUtf8() + "\nSubject: " + enteteEncode(sujet)
           + "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n"
             "Auto-Submitted: auto-generated\n\n"
           + texte.toUtf8();
}
