// SPDX-License-Identifier: MIT
#include "CopieSauvegarde.h"

#include "Console.h"
#include "EchecRequete.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

bool CopieSauvegarde::copierPages(const QSqlDatabase &store, const QString &fichier)
{
    if (!store.isOpen())
        return false;
    {
        // A copy of the pages would bypass the store's triggers (its own
        // schema has none): a store that has some is moved row by row.
        QSqlQuery declencheurs(store);
        if (!declencheurs.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='trigger'"))
            || declencheurs.next())
            return false;
    }
    const QVariant poignee = store.driver()->handle();
    if (!poignee.isValid() || qstrcmp(poignee.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *source = *static_cast<sqlite3 *const *>(poignee.constData());
    if (!source)
        return false;

    sqlite3 *destination = nullptr;
    bool copiee = sqlite3_open_v2(QFile::encodeName(fichier).constData(), &destination,
                                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
                  == SQLITE_OK;
    if (copiee) {
        // A temporary file, synced as a whole before it is named.
        sqlite3_exec(destination, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
        sqlite3_backup *copie = sqlite3_backup_init(destination, "main", source, "main");
        copiee = copie && sqlite3_backup_step(copie, -1) == SQLITE_DONE;
        if (copie)
            copiee = sqlite3_backup_finish(copie) == SQLITE_OK && copiee;
    }
    copiee = sqlite3_close(destination) == SQLITE_OK && copiee;
    return copiee;
}

bool CopieSauvegarde::copierLignes(QSqlDatabase &store, const QString &fichier)
{
    const QString nomConnexion = store.connectionName() + QStringLiteral("_sauvegarde");
    QStringList tables;
    {
        QSqlDatabase sauvegarde = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomConnexion);
        sauvegarde.setDatabaseName(fichier);
        const bool ouverte = sauvegarde.open();
        if (!ouverte)
            Console::ecrire(tr("Connexion à la base de données impossible"));
        QSqlQuery creation(sauvegarde);
        if (ouverte) {
            for (const char *reglage : {"PRAGMA foreign_keys = ON;", "PRAGMA case_sensitive_like=true;",
                                        "PRAGMA journal_mode=MEMORY;", "PRAGMA temp_store=MEMORY;",
                                        "PRAGMA locking_mode=EXCLUSIVE;", "PRAGMA synchronous = OFF;"})
                creation.exec(QString::fromLatin1(reglage));
        }

        QSqlQuery lecture(store);
        EchecRequete::executer(lecture,
                               QStringLiteral("SELECT sql, tbl_name FROM sqlite_master WHERE type='table' AND sql NOT NULL "
                                              "and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
        while (lecture.next()) {
            // Statements on a connection that failed to open would only add
            // Qt warnings to the failure already printed.
            if (ouverte)
                EchecRequete::executer(creation, lecture.value(0).toString());
            tables << lecture.value(1).toString();
        }
        EchecRequete::executer(lecture,
                               QStringLiteral("SELECT sql FROM sqlite_master WHERE type='index' AND sql NOT NULL "
                                              "and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
        while (lecture.next()) {
            if (ouverte)
                EchecRequete::executer(creation, lecture.value(0).toString());
        }
        sauvegarde.close();
    }

    QSqlQuery requete(store);
    requete.exec(QStringLiteral("ATTACH DATABASE '") + fichier + QStringLiteral("' as sauvegarde"));
    const bool attachee = !EchecRequete::signaler(requete);
    if (attachee) {
        // The file is new, the rows stay in memory until the commit, and the
        // file only takes its name once synced: neither a journal on disk
        // nor a sync per transaction buys any safety here.
        EchecRequete::executer(requete, QStringLiteral("PRAGMA sauvegarde.journal_mode=MEMORY;"));
        EchecRequete::executer(requete, QStringLiteral("PRAGMA sauvegarde.synchronous = OFF;"));
    }
    // The rows already satisfy the foreign keys; checking them again row by
    // row, and cascading the emptying, would cost SQLite its bulk copy and
    // its bulk deletion. The pragma only takes effect outside a transaction.
    EchecRequete::executer(requete, QStringLiteral("PRAGMA foreign_keys = OFF;"));
    // SQLite builds that default to secure deletion (Debian's) would zero
    // every page the emptying frees and keep a copy of each in the memory
    // journal: as long again as the copy, and twice the store's memory at
    // its peak, to protect pages that never leave the process.
    EchecRequete::executer(requete, QStringLiteral("PRAGMA main.secure_delete = OFF;"));

    bool copiee = false;
    if (!store.transaction()) {
        Console::ecrire(tr("Impossible de démarrer la transaction."));
    } else {
        copiee = attachee;
        for (const QString &table : qAsConst(tables)) {
            requete.exec(QStringLiteral("INSERT INTO sauvegarde.") + table + QStringLiteral(" SELECT * FROM main.") + table);
            if (EchecRequete::signaler(requete))
                copiee = false;
        }
        if (copiee) {
            for (const QString &table : qAsConst(tables)) {
                requete.exec(QStringLiteral("DELETE FROM main.") + table);
                if (EchecRequete::signaler(requete))
                    copiee = false;
            }
        }
        if (copiee && !store.commit()) {
            Console::ecrire(tr("Impossible de valider la transaction: %1").arg(store.lastError().text()));
            copiee = false;
        }
        if (!copiee)
            store.rollback();
    }
    if (!copiee)
        Console::ecrire(tr("Les lignes sont conservées pour la prochaine sauvegarde."));

    EchecRequete::executer(requete, QStringLiteral("PRAGMA foreign_keys = ON;"));
    EchecRequete::executer(requete, QStringLiteral("DETACH DATABASE sauvegarde"));
    QSqlDatabase::removeDatabase(nomConnexion);
    return copiee;
}

void CopieSauvegarde::rendreMemoire(const QSqlDatabase &store, bool compacter)
{
    // A store emptied row by row keeps its freed pages for later rows; once
    // empty it is rebuilt in a moment, and the memory goes back to the
    // system instead of staying at the hour's peak.
    QSqlQuery requete(store);
    if (compacter)
        EchecRequete::executer(requete, QStringLiteral("VACUUM"));
    EchecRequete::executer(requete, QStringLiteral("PRAGMA shrink_memory"));
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
