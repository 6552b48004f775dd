// SPDX-License-Identifier: MIT
#ifndef ECHECSAUVEGARDE_H
#define ECHECSAUVEGARDE_H

#include <QCoreApplication>
#include <QString>

// Why a backup failed: the step, the file it worked on and the error text
// SQLite or the system gave, told on one console line.
class EchecSauvegarde
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    bool survenu() const { return !m_etape.isEmpty(); }
    QString etape() const { return m_etape; }
    QString fichier() const { return m_fichier; }
    QString erreur() const { return m_erreur; }

    // The first failure of a run is the one told: later steps only fail
    // because of it.
    void noter(const QString &etape, const QString &fichier, const QString &erreur);
    // `errno` as the system words it.
    static QString erreurSysteme(int numero);

    // The console line, once the failure is known.
    void signaler() const;
    // The line of a last backup that failed: `rapports` in no backup file,
    // `perdus` of them not in the journal either.
    static void signalerPertes(qint64 rapports, qint64 perdus, bool journal);

private:
    QString m_etape;
    QString m_fichier;
    QString m_erreur;
};

#endif
