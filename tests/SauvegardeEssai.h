// SPDX-License-Identifier: MIT
#ifndef SAUVEGARDEESSAI_H
#define SAUVEGARDEESSAI_H

#include "FichierSauvegarde.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <cmath>

// A backup file written by a test with the collector's schema, through
// SQLite itself: NaN is written NULL.
class SauvegardeEssai
{
public:
    explicit SauvegardeEssai(const QString &chemin)
    {
        m_ok = sqlite3_open_v2(QFile::encodeName(chemin).constData(), &m_base,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
               == SQLITE_OK;
        // A test's file need not survive a crash: no journal, no sync.
        executer("PRAGMA journal_mode = OFF");
        executer("PRAGMA synchronous = OFF");
        executer("BEGIN");
        for (const QString &instruction : FichierSauvegarde::schema())
            executer(instruction.toUtf8());
        m_ok = m_ok
               && sqlite3_prepare_v2(m_base, "INSERT INTO InfosHyperviseurs (id, name, time, cputemp, mbtemp, cpu, ram, disk, network) "
                                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)", -1, &m_hyperviseur, nullptr) == SQLITE_OK
               && sqlite3_prepare_v2(m_base, "INSERT INTO InfosVMs (idinfos, name, uuid, state, cpu, ram, maxram, network) "
                                             "VALUES (?, ?, ?, 1, ?, ?, ?, ?)", -1, &m_vm, nullptr) == SQLITE_OK;
    }
    ~SauvegardeEssai() { fermer(); }

    // Values in the archive's order: cpu, ram, disk, network, cputemp, mbtemp.
    qint64 hyperviseur(const QString &nom, qint64 temps, const QVector<double> &valeurs)
    {
        const qint64 id = ++m_dernierId;
        sqlite3_bind_int64(m_hyperviseur, 1, id);
        lierTexte(m_hyperviseur, 2, nom);
        sqlite3_bind_int64(m_hyperviseur, 3, temps);
        const int colonnes[] = {6, 7, 8, 9, 4, 5};
        for (int i = 0; i < 6; ++i)
            lierNombre(m_hyperviseur, colonnes[i], valeurs.value(i, NAN));
        pas(m_hyperviseur);
        return id;
    }
    // cpu, ram, maxram, network.
    void vm(qint64 idHyperviseur, const QString &nom, const QVector<double> &valeurs)
    {
        sqlite3_bind_int64(m_vm, 1, idHyperviseur);
        lierTexte(m_vm, 2, nom);
        lierTexte(m_vm, 3, QStringLiteral("00000000-0000-4000-8000-000000000001"));
        for (int i = 0; i < 4; ++i)
            lierNombre(m_vm, 4 + i, valeurs.value(i, NAN));
        pas(m_vm);
    }
    void executer(const QByteArray &sql)
    {
        m_ok = m_ok && sqlite3_exec(m_base, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool fermer()
    {
        if (m_base) {
            executer("COMMIT");
            sqlite3_finalize(m_hyperviseur);
            sqlite3_finalize(m_vm);
            m_ok = sqlite3_close(m_base) == SQLITE_OK && m_ok;
            m_base = nullptr;
        }
        return m_ok;
    }
    bool ok() const { return m_ok; }

private:
    static void lierTexte(sqlite3_stmt *requete, int colonne, const QString &texte)
    {
        const QByteArray octets = texte.toUtf8();
        sqlite3_bind_text(requete, colonne, octets.constData(), int(octets.size()), SQLITE_TRANSIENT);
    }
    static void lierNombre(sqlite3_stmt *requete, int colonne, double valeur)
    {
        if (std::isnan(valeur))
            sqlite3_bind_null(requete, colonne);
        else
            sqlite3_bind_double(requete, colonne, valeur);
    }
    void pas(sqlite3_stmt *requete)
    {
        m_ok = m_ok && sqlite3_step(requete) == SQLITE_DONE;
        sqlite3_reset(requete);
    }

    sqlite3 *m_base = nullptr;
    sqlite3_stmt *m_hyperviseur = nullptr;
    sqlite3_stmt *m_vm = nullptr;
    qint64 m_dernierId = 0;
    bool m_ok = false;
};

#endif
