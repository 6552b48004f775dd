// SPDX-License-Identifier: MIT
#ifndef PLAFONDMEMOIRE_H
#define PLAFONDMEMOIRE_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

class QSqlDatabase;

// The most memory the store's rows may take. Reaching it calls for a backup
// at once; only when backups fail are the oldest reports dropped, with one
// console line an hour at most saying how many.
class PlafondMemoire
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    // While a backup keeps failing, one at the bound is tried at most this
    // often: each attempt costs a write to a full disk and two lines.
    static constexpr int delaiEntreEssaisMs = 60000;
    static constexpr int delaiEntreLignesMs = 3600000;

    // `bdd` is the store connection, which outlives this object.
    explicit PlafondMemoire(const QSqlDatabase &bdd);

    // 0: no bound.
    void fixer(qint64 octets) { m_plafond = octets; }
    qint64 plafond() const { return m_plafond; }

    // What the rows take now: the database's pages in use, each at what a
    // page costs in SQLite's cache. Cheap enough for every batch of reports.
    qint64 occupation() const;
    bool atteint() const { return m_plafond > 0 && occupation() >= m_plafond; }

    // Whether a backup at the bound may be tried now.
    bool essaiPermis() const;
    void sauvegardeEchouee();
    void sauvegardeReussie();

    // Drops the oldest reports, each with its VM rows, until the rows take
    // three quarters of the bound: far enough under it that the next
    // reports do not call for it again at once. The number dropped.
    qint64 supprimerPlusAnciens();
    // At a stop: the drops not told yet.
    void signalerEnAttente();

private:
    void signaler();
    qint64 supprimerJusqua(qint64 idLimite);

    const QSqlDatabase &m_bdd;
    qint64 m_plafond = 0;
    QElapsedTimer m_dernierEchec;
    qint64 m_nonSignales = 0;
    // What a page costs in SQLite's cache, read while its count of the
    // cache still fits its 32-bit figure.
    mutable qint64 m_coutPage = 0;
    QTimer m_minuteurLigne;
};

#endif
