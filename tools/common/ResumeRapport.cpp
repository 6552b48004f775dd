// SPDX-License-Identifier: MIT
#include "ResumeRapport.h"

#include "ClesRapport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

const QString inconnu = QStringLiteral("?");

QString nombre(const QJsonValue &valeur)
{
    return valeur.isDouble() ? QString::number(valeur.toDouble(), 'f', 1) : inconnu;
}

} // namespace

QString ResumeRapport::ligne(const QString &texte)
{
    // Latin-1 texts hold characters, not UTF-8 bytes: re-encode them for the parser.
    QJsonParseError erreur{};
    const QJsonDocument document = QJsonDocument::fromJson(texte.toUtf8(), &erreur);
    if (erreur.error != QJsonParseError::NoError || !document.isObject()) {
        constexpr int apercu = 80;
        QString debut = texte.left(apercu);
        debut.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        return QStringLiteral("rapport illisible (%1 caractères) : %2%3")
            .arg(texte.size())
            .arg(debut, texte.size() > apercu ? QStringLiteral("...") : QString());
    }

    const QJsonObject rapport = document.object();
    const QJsonValue nom = rapport.value(ClesRapport::nom);
    const QJsonValue temps = rapport.value(ClesRapport::temps);
    const QJsonValue vms = rapport.value(ClesRapport::vms);

    QString date = inconnu;
    if (temps.isDouble()) {
        const double secondes = temps.toDouble();
        if (secondes >= 0 && secondes < 253402300800.0)
            date = QDateTime::fromSecsSinceEpoch(qint64(secondes), Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC");
    }

    return QStringLiteral("%1  %2  cpu %3 %  ram %4 %  %5 VM")
        .arg(nom.isString() ? nom.toString() : inconnu, date, nombre(rapport.value(ClesRapport::cpu)),
             nombre(rapport.value(ClesRapport::ram)), vms.isArray() ? QString::number(vms.toArray().size()) : inconnu);
}
