// SPDX-License-Identifier: MIT
#include "LigneCommande.h"

#include <QRegularExpression>

quint16 LigneCommande::portUdp(const QStringList &arguments)
{
    const QStringList options = arguments.filter(QStringLiteral("--port="), Qt::CaseSensitive);
    if (options.isEmpty())
        return portParDefaut;

    static const QRegularExpression chiffres(QStringLiteral("([0-9]{1,5})"));
    const QRegularExpressionMatch correspondance = chiffres.match(options.first());
    return correspondance.captured(1).toUShort(nullptr, 10);
}

int LigneCommande::journal(const QStringList &arguments)
{
    const QString option = QStringLiteral("--journal=");
    int resultat = 1;
    for (const QString &argument : arguments) {
        if (argument.startsWith(option))
            resultat = argument.mid(option.size()) == QLatin1String("aucun") ? 0 : -1;
    }
    return resultat;
}

int LigneCommande::clientsMax(const QStringList &arguments, int parDefaut)
{
    const QString option = QStringLiteral("--clients-max=");
    int resultat = parDefaut;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(option))
            continue;
        bool ok = false;
        const int valeur = argument.mid(option.size()).toInt(&ok, 10);
        resultat = ok && valeur >= 1 && valeur <= 65535 ? valeur : -1;
    }
    return resultat;
}
