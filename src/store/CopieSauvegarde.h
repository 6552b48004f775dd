// SPDX-License-Identifier: MIT
#ifndef COPIESAUVEGARDE_H
#define COPIESAUVEGARDE_H

#include <QCoreApplication>
#include <QString>

class EchecSauvegarde;
class QSqlDatabase;

// The store's rows copied into a new backup file: the quick way copies the
// database's pages, the other moves the rows with SQL statements and names
// the failing one. A row leaves the store only once its copy is committed.
class CopieSauvegarde
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    enum Copie { Copiee, Echouee, Impossible };
    // SQLite's online backup, as VACUUM INTO would, without reading a row
    // into the program or a transaction on the store, which keeps its rows.
    // Silent: Echouee notes in `echec` the step that failed; Impossible when
    // the store's pages cannot be copied as they are (then the rows can).
    static Copie copierPages(const QSqlDatabase &store, const QString &fichier, EchecSauvegarde &echec);
    // The schema replayed, then the copy and the emptying in one transaction
    // of the store. False, after the line of the statement that failed
    // first, when the rows are kept.
    static bool copierLignes(QSqlDatabase &store, const QString &fichier);
    // Once the store is empty; `compacter` when it was emptied row by row.
    static void rendreMemoire(const QSqlDatabase &store, bool compacter);
};

#endif
