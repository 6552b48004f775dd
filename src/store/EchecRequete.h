// SPDX-License-Identifier: MIT
#ifndef ECHECREQUETE_H
#define ECHECREQUETE_H

#include <QCoreApplication>
#include <QString>

class QSqlQuery;

// The store's one report of failed SQL statements: a console line with the
// error text and the statement as it was really sent, bound values written
// in. It stops nothing; its callers go on whatever it says.
class EchecRequete
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    // True, with the line printed, when the statement `requete` last ran failed.
    static bool signaler(const QSqlQuery &requete);
    // `texteAffiche` is the statement as the console shows it, which for a
    // VM insertion has the hypervisor row's id written in where the prepared
    // one binds it.
    static bool signaler(const QSqlQuery &requete, const QString &texteAffiche);
    static void executer(QSqlQuery &requete, const QString &texte);

    // `texte` with the values bound to `requete` written in for their names.
    static QString avecValeurs(const QSqlQuery &requete, const QString &texte);
};

#endif
