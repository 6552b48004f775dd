// SPDX-License-Identifier: MIT
#ifndef INSERTIONRAPPORTS_H
#define INSERTIONRAPPORTS_H

#include "InstructionInsertion.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonObject>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class RapportJson;

// Stores decoded reports as rows of the store's two tables, a hypervisor row
// and one row per VM, each report in a transaction or a batch of reports in
// a shared one. The statements are prepared once and kept, by text and by
// the set of keys that chose their columns.
class InsertionRapports
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    // Failure lines shown for the rows of one report; the others are counted.
    static constexpr int lignesRefuseesAffichees = 10;

    // `bdd` is the store connection, which outlives this object.
    explicit InsertionRapports(QSqlDatabase &bdd);

    // In a batch the reports share one transaction, which the batch's end
    // (terminerLot) commits.
    void stocker(const RapportJson &rapport, bool enLot = false);
    void terminerLot();

    // Opens the store connection if it is closed, with a console line when
    // it cannot. A closed connection finalized every statement kept.
    bool ouvrir();
    // Before the connection is closed or replaced.
    void oublierRequetes();

private:
    QVariant insererLignes(const QString &requete, const QStringList &cles, const QVector<QJsonObject> &lignes,
                           const QVariant *idinfos = nullptr);
    InstructionInsertion &instruction(const QString &requete, const QStringList &cles, const QJsonObject &premiere);
    QSqlQuery *requetePreparee(const QString &texte);
    bool commencerTransaction();
    void validerTransaction();

    QSqlDatabase &m_bdd;
    int m_lignesRefusees = 0;
    // A transaction begun by the first report of a batch, for its others.
    bool m_lotOuvert = false;
    // The column sets a report can choose keep these small.
    QHash<QString, QSqlQuery> m_requetes;
    QHash<QPair<QString, quint64>, InstructionInsertion> m_instructions;
};

#endif
