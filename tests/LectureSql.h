// SPDX-License-Identifier: MIT
#ifndef LECTURESQL_H
#define LECTURESQL_H

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariantList>

using Lignes = QList<QVariantList>;

// The rows a query gives, NULL as an invalid QVariant; a query that cannot
// run is a fault of the test itself.
inline Lignes lire(const QSqlDatabase &base, const QString &sql)
{
    QSqlQuery requete(base);
    if (!requete.exec(sql))
        qFatal("%s : %s", qPrintable(requete.lastError().text()), qPrintable(sql));
    Lignes resultat;
    while (requete.next()) {
        QVariantList ligne;
        for (int i = 0; i < requete.record().count(); ++i)
            ligne << (requete.isNull(i) ? QVariant() : requete.value(i));
        resultat << ligne;
    }
    return resultat;
}

#endif
