// SPDX-License-Identifier: MIT
#ifndef POIGNEESQLITE_H
#define POIGNEESQLITE_H

struct sqlite3;
class QSqlDatabase;

// SQLite's own handle behind a Qt connection, for what Qt's driver does not
// offer: the online backup, the memory a database takes.
class PoigneeSqlite
{
public:
    // Null when the connection is closed or not SQLite's.
    static sqlite3 *de(const QSqlDatabase &connexion);
};

#endif
