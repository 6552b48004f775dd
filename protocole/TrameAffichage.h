// SPDX-License-Identifier: MIT
#ifndef TRAMEAFFICHAGE_H
#define TRAMEAFFICHAGE_H

#include <QByteArray>
#include <QString>

// The display frame the collector sends for each report: the number of
// UTF-16 units of the text as a 32-bit signed big-endian integer, the 8-bit
// marker 1, then one byte per unit (Latin-1, '?' above U+00FF).
class TrameAffichage
{
public:
    static constexpr int tailleEntete = 5;
    static constexpr char marqueur = 1;

    static QByteArray ecrire(const QString &texte);
};

#endif
