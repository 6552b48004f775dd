// SPDX-License-Identifier: MIT
#include "PlafondMemoire.h"

#include "Console.h"
#include "PoigneeSqlite.h"
#include "Taille.h"

#include <QByteArray>
#include <QSqlDatabase>

#include <cmath>

#include <sqlite3.h>

namespace {

// The first column of the first row, or -1.
qint64 entier(sqlite3 *bdd, const char *sql)
{
    sqlite3_stmt *requete = nullptr;
    qint64 valeur = -1;
    if (sqlite3_prepare_v2(bdd, sql, -1, &requete, nullptr) == SQLITE_OK && sqlite3_step(requete) == SQLITE_ROW
        && sqlite3_column_type(requete, 0) != SQLITE_NULL)
        valeur = sqlite3_column_int64(requete, 0);
    sqlite3_finalize(requete);
    return valeur;
}

bool executer(sqlite3 *bdd, const QByteArray &sql)
{
    return sqlite3_exec(bdd, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

PlafondMemoire::PlafondMemoire(const QSqlDatabase &bdd)
    : m_bdd(bdd)
{
    m_minuteurLigne.setSingleShot(true);
    m_minuteurLigne.setInterval(delaiEntreLignesMs);
    QObject::connect(&m_minuteurLigne, &QTimer::timeout, &m_minuteurLigne, [this] {
        if (m_nonSignales > 0)
            signaler();
    });
}

qint64 PlafondMemoire::occupation() const
{
    sqlite3 *bdd = PoigneeSqlite::de(m_bdd);
    if (!bdd)
        return 0;
    const qint64 pages = entier(bdd, "PRAGMA main.page_count");
    const qint64 libres = entier(bdd, "PRAGMA main.freelist_count");
    if (pages <= 0)
        return 0;
    int cache = 0;
    int pointe = 0;
    sqlite3_db_status(bdd, SQLITE_DBSTATUS_CACHE_USED, &cache, &pointe, 0);
    // Past a gigabyte SQLite's figure may have wrapped; under a few hundred
    // pages its fixed costs would weigh on each page.
    const qint64 taillePage = qMax<qint64>(512, entier(bdd, "PRAGMA main.page_size"));
    if (pages >= 256 && pages * taillePage < (qint64(1) << 30) && cache > 0)
        m_coutPage = cache / pages;
    qint64 cout = m_coutPage > taillePage ? m_coutPage : taillePage + taillePage / 16;
    // The allocator takes about a tenth more than SQLite counts around its
    // pages (measured with the store's schema): counted, the bound holds for
    // the process's memory and not only for SQLite's.
    cout += cout / 10;
    return (pages - qMax<qint64>(0, libres)) * cout;
}

bool PlafondMemoire::essaiPermis() const
{
    return !m_dernierEchec.isValid() || m_dernierEchec.hasExpired(delaiEntreEssaisMs);
}

void PlafondMemoire::sauvegardeEchouee()
{
    m_dernierEchec.start();
}

void PlafondMemoire::sauvegardeReussie()
{
    m_dernierEchec.invalidate();
}

qint64 PlafondMemoire::supprimerPlusAnciens()
{
    sqlite3 *bdd = PoigneeSqlite::de(m_bdd);
    if (!bdd || m_plafond <= 0)
        return 0;
    // Debian's SQLite zeroes every page it frees, and keeps a copy of each
    // in its memory journal: twice the work for pages that never leave the
    // process.
    executer(bdd, "PRAGMA main.secure_delete = OFF");
    const qint64 cible = m_plafond / 4 * 3;
    qint64 supprimes = 0;
    forever {
        const qint64 occupe = occupation();
        if (occupe <= cible)
            break;
        const qint64 premier = entier(bdd, "SELECT min(id) FROM InfosHyperviseurs");
        const qint64 dernier = entier(bdd, "SELECT max(id) FROM InfosHyperviseurs");
        if (premier < 0 || dernier < premier)
            break;
        // The ids follow one another, as the reports came: the share of
        // them to drop is the share of the memory to give back. Each step
        // gives back at most 1/64 of the bound, which its memory journal
        // holds until the commit.
        const double lignes = double(dernier - premier + 1);
        const qint64 voulues = qint64(std::ceil(lignes * double(occupe - cible) / double(occupe)));
        const qint64 pas = qMax<qint64>(1, qint64(lignes * double(m_plafond / 64) / double(occupe)));
        const qint64 faites = supprimerJusqua(premier + qMin(voulues, pas));
        if (faites <= 0)
            break;
        supprimes += faites;
    }
    m_nonSignales += supprimes;
    if (supprimes > 0 && !m_minuteurLigne.isActive())
        signaler();
    return supprimes;
}

qint64 PlafondMemoire::supprimerJusqua(qint64 idLimite)
{
    sqlite3 *bdd = PoigneeSqlite::de(m_bdd);
    const QByteArray limite = QByteArray::number(idLimite);
    if (!executer(bdd, "BEGIN"))
        return 0;
    // The VM rows first: each hypervisor row deleted then finds none left
    // to cascade to.
    qint64 faites = 0;
    if (executer(bdd, "DELETE FROM InfosVMs WHERE idinfos < " + limite)
        && executer(bdd, "DELETE FROM InfosHyperviseurs WHERE id < " + limite)) {
        faites = sqlite3_changes(bdd);
        if (executer(bdd, "COMMIT"))
            return faites;
    }
    executer(bdd, "ROLLBACK");
    return 0;
}

void PlafondMemoire::signalerEnAttente()
{
    if (m_nonSignales > 0)
        signaler();
}

void PlafondMemoire::signaler()
{
    Console::ecrire(tr("Mémoire du stockage au plafond (%1, --memoire-max) et sauvegarde impossible : %2 rapport(s) "
                       "parmi les plus anciens supprimé(s).")
                        .arg(Taille::texte(m_plafond))
                        .arg(m_nonSignales));
    m_nonSignales = 0;
    m_minuteurLigne.start();
}
