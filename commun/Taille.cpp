// SPDX-License-Identifier: MIT
#include "Taille.h"

#include <QRegularExpression>

#include <cmath>

bool Taille::lire(const QString &texte, qint64 &octets)
{
    static const QRegularExpression motif(
        QStringLiteral("^([0-9]+(?:[.,][0-9]+)?)\\s*([kKmMgGtT]?)(?:i?[oB])?$"));
    const QRegularExpressionMatch correspondance = motif.match(texte.trimmed());
    if (!correspondance.hasMatch())
        return false;
    QString nombre = correspondance.captured(1);
    // The decimal comma is what a French operator writes.
    nombre.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double valeur = nombre.toDouble(&ok);
    const QString unite = correspondance.captured(2).toLower();
    const int puissance = unite.isEmpty() ? 0 : QStringLiteral("kmgt").indexOf(unite) + 1;
    const double resultat = std::floor(valeur * std::pow(1024.0, puissance));
    if (!ok || !(resultat >= 1) || resultat > std::ldexp(1.0, 62))
        return false;
    octets = qint64(resultat);
    return true;
}

QString Taille::texte(qint64 octets)
{
    static const char *const unites[] = {"o", "Kio", "Mio", "Gio", "Tio"};
    int unite = 0;
    double valeur = double(octets);
    while (unite < 4 && valeur >= 1024) {
        valeur /= 1024;
        ++unite;
    }
    QString nombre = QString::number(std::round(valeur * 10) / 10, 'f', 1);
    if (nombre.endsWith(QLatin1String(".0")))
        nombre.chop(2);
    nombre.replace(QLatin1Char('.'), QLatin1Char(','));
    return nombre + QLatin1Char(' ') + QLatin1String(unites[unite]);
}
