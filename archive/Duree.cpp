// SPDX-License-Identifier: MIT
#include "Duree.h"

#include <QRegularExpression>

namespace {

constexpr qint64 jour = 86400;
constexpr qint64 heure = 3600;
constexpr qint64 minute = 60;
// A century, in seconds: far past any use, and far from overflowing.
constexpr qint64 maximum = 100 * 366 * jour;

} // namespace

bool Duree::lire(const QString &texte, qint64 &secondes)
{
    static const QRegularExpression motif(QStringLiteral("^(\\d{1,12})([jhms])$"));
    const QRegularExpressionMatch correspondance = motif.match(texte);
    if (!correspondance.hasMatch())
        return false;
    const qint64 nombre = correspondance.captured(1).toLongLong();
    const QChar unite = correspondance.captured(2).at(0);
    const qint64 facteur = unite == QLatin1Char('j') ? jour
                           : unite == QLatin1Char('h') ? heure
                           : unite == QLatin1Char('m') ? minute
                                                       : 1;
    if (nombre > maximum / facteur)
        return false;
    secondes = nombre * facteur;
    return true;
}

QString Duree::texte(qint64 secondes)
{
    if (secondes > 0 && secondes % jour == 0)
        return QStringLiteral("%1 j").arg(secondes / jour);
    if (secondes > 0 && secondes % heure == 0)
        return QStringLiteral("%1 h").arg(secondes / heure);
    if (secondes > 0 && secondes % minute == 0)
        return QStringLiteral("%1 min").arg(secondes / minute);
    return QStringLiteral("%1 s").arg(secondes);
}
