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
