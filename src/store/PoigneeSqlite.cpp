// SPDX-License-Identifier: MIT
#include "PoigneeSqlite.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

sqlite3 *PoigneeSqlite::de(const QSqlDatabase &connexion)
{
    if (!connexion.isOpen())
        return nullptr;
    const QVariant poignee = connexion.driver()->handle();
    if (!poignee.isValid() || qstrcmp(poignee.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(poignee.constData());
}
