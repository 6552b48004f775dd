// SPDX-License-Identifier: MIT
#include "CopieSauvegarde.h"

#include "Console.h"
#include "EchecRequete.h"
#include "EchecSauvegarde.h"
#include "PoigneeSqlite.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// SQLite's words for the failure, and the system's when it has some.
QString texteErreur(sqlite3 *bdd, int code)
{
    QString texte = QString::fromUtf8(bdd ? sqlite3_errmsg(bdd) : sqlite3_errstr(code));
    const int systeme = bdd ? sqlite3_system_errno(bdd) : 0;
    if (systeme != 0)
        texte += QStringLiteral(" (%1)").arg(EchecSauvegarde::erreurSysteme(systeme));
    return texte;
}

} // namespace

CopieSauvegarde::Copie CopieSauvegarde::copierPages(const QSqlDatabase &store, const QString &fichier,
                                                    EchecSauvegarde &echec)
{
    sqlite3 *source = PoigneeSqlite::de(store);
    if (!source)
        return Impossible;
    {
        // A copy of the pages would bypass the store's triggers (its own
        // schema has none): a store that has some is moved row by row.
        QSqlQuery declencheurs(store);
        if (!declencheurs.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='trigger'"))
            || declencheurs.next())
            return Impossible;
    }

    sqlite3 *destination = nullptr;
    int code = sqlite3_open_v2(QFile::encodeName(fichier).constData(), &destination,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        echec.noter(tr("création du fichier"), fichier, texteErreur(destination, code));
    } else {
        // A temporary file, synced as a whole before it is named.
        sqlite3_exec(destination, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
        sqlite3_backup *copie = sqlite3_backup_init(destination, "main", source, "main");
        code = copie ? sqlite3_backup_step(copie, -1) : sqlite3_errcode(destination);
        // The step's failure is the destination's error once the copy is over.
        if (copie)
            sqlite3_backup_finish(copie);
        if (code != SQLITE_DONE)
            echec.noter(tr("copie des pages"), fichier, texteErreur(destination, code));
    }
    code = sqlite3_close(destination);
    if (code != SQLITE_OK)
        echec.noter(tr("fermeture du fichier"), fichier, texteErreur(destination, code));
    return echec.survenu() ? Echouee : Copiee;
}

namespace {

// Each statement stops the copy at its first failure, told on its own line:
// the steps after it would only fail because of it.
bool reussit(QSqlQuery &requete, const QString &texte)
{
    requete.exec(texte);
    return !EchecRequete::signaler(requete);
}

// The store's tables and indexes created again in the file `fichier`; the
// tables' names in `tables`, parents first.
bool repliquerSchema(const QSqlDatabase &store, const QString &fichier, const QString &nomConnexion,
                     QStringList &tables)
{
    QSqlDatabase sauvegarde = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomConnexion);
    sauvegarde.setDatabaseName(fichier);
    if (!sauvegarde.open()) {
        Console::ecrire(CopieSauvegarde::tr("Connexion à la base de données impossible"));
        return false;
    }
    QSqlQuery creation(sauvegarde);
    for (const char *reglage : {"PRAGMA foreign_keys = ON;", "PRAGMA case_sensitive_like=true;",
                                "PRAGMA journal_mode=MEMORY;", "PRAGMA temp_store=MEMORY;",
                                "PRAGMA locking_mode=EXCLUSIVE;", "PRAGMA synchronous = OFF;"})
        creation.exec(QString::fromLatin1(reglage));

    QSqlQuery lecture(store);
    bool reussie = reussit(lecture, QStringLiteral("SELECT sql, tbl_name FROM sqlite_master WHERE type='table' AND sql "
                                                   "NOT NULL and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
    while (reussie && lecture.next()) {
        reussie = reussit(creation, lecture.value(0).toString());
        tables << lecture.value(1).toString();
    }
    reussie = reussie
              && reussit(lecture, QStringLiteral("SELECT sql FROM sqlite_master WHERE type='index' AND sql NOT NULL "
                                                 "and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
    while (reussie && lecture.next())
        reussie = reussit(creation, lecture.value(0).toString());
    sauvegarde.close();
    return reussie;
}

} // namespace

bool CopieSauvegarde::copierLignes(QSqlDatabase &store, const QString &fichier)
{
    const QString nomConnexion = store.connectionName() + QStringLiteral("_sauvegarde");
    QStringList tables;
    const bool schema = repliquerSchema(store, fichier, nomConnexion, tables);
    QSqlDatabase::removeDatabase(nomConnexion);
    QSqlQuery requete(store);
    if (!schema || !reussit(requete, QStringLiteral("ATTACH DATABASE '") + fichier + QStringLiteral("' as sauvegarde")))
        return false;

    // The file is new, the rows stay in memory until the commit, and the
    // file only takes its name once synced: neither a journal on disk nor a
    // sync per transaction buys any safety here.
    EchecRequete::executer(requete, QStringLiteral("PRAGMA sauvegarde.journal_mode=MEMORY;"));
    EchecRequete::executer(requete, QStringLiteral("PRAGMA sauvegarde.synchronous = OFF;"));
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
        copiee = true;
        for (const QString &table : qAsConst(tables))
            copiee = copiee && reussit(requete, QStringLiteral("INSERT INTO sauvegarde.") + table
                                                    + QStringLiteral(" SELECT * FROM main.") + table);
        for (const QString &table : qAsConst(tables))
            copiee = copiee && reussit(requete, QStringLiteral("DELETE FROM main.") + table);
        if (copiee && !store.commit()) {
            Console::ecrire(tr("Impossible de valider la transaction: %1").arg(store.lastError().text()));
            copiee = false;
        }
        if (!copiee)
            store.rollback();
    }

    EchecRequete::executer(requete, QStringLiteral("PRAGMA foreign_keys = ON;"));
    EchecRequete::executer(requete, QStringLiteral("DETACH DATABASE sauvegarde"));
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
