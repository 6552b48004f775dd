// SPDX-License-Identifier: MIT
#ifndef LIGNESATTENDUES_H
#define LIGNESATTENDUES_H

#include <QRegularExpression>
#include <QStringList>
#include <QTest>

// Console lines where "<erreur>" stands for the SQLite error text, whose
// wording belongs to the library.
inline void comparerLignes(const QStringList &obtenues, const QStringList &attendues)
{
    bool identiques = obtenues.size() == attendues.size();
    for (int i = 0; identiques && i < attendues.size(); ++i) {
        QStringList morceaux = attendues.at(i).split(QStringLiteral("<erreur>"));
        for (QString &morceau : morceaux)
            morceau = QRegularExpression::escape(morceau);
        const QRegularExpression attendue(QRegularExpression::anchoredPattern(morceaux.join(QStringLiteral(".+"))));
        identiques = attendue.match(obtenues.at(i)).hasMatch();
    }
    QVERIFY2(identiques, qPrintable(QStringLiteral("obtenu :\n%1\nattendu :\n%2")
                                        .arg(obtenues.join(QLatin1Char('\n')), attendues.join(QLatin1Char('\n')))));
}

#endif
