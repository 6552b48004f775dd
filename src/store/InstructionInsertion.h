// SPDX-License-Identifier: MIT
#ifndef INSTRUCTIONINSERTION_H
#define INSTRUCTIONINSERTION_H

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QSqlQuery;
class QVariant;

// An INSERT template completed for the keys a first row holds, and the two
// ways of binding a row to the statement prepared from it: SQLite's own,
// by position, and Qt's, by name, which fails alike and is kept for what
// the first cannot do.
class InstructionInsertion
{
public:
    InstructionInsertion() = default;
    // `modele` has %1 for the columns, %2 for their placeholders and, for a
    // VM row, %3 for the hypervisor row's id.
    InstructionInsertion(const QString &modele, const QStringList &cles, const QJsonObject &premiere);

    // Whether it was completed from these keys.
    bool completeePour(const QStringList &cles) const { return !m_texte.isNull() && m_cles == cles; }

    // %3 still in it, for the id to be written in.
    const QString &texte() const { return m_texte; }
    // The same with %3 as the placeholder ":idinfos".
    const QString &texteLie() const { return m_texteLie; }

    // Through the statement SQLite keeps under `insertion`, prepared from
    // texteLie() when `idinfos` is given, from texte() otherwise. True once
    // the row is stored, with its id; false leaves the statement ready for
    // Qt's way.
    bool insererVite(QSqlQuery &insertion, const QJsonObject &ligne, const QVariant *idinfos, qint64 *id);
    // Qt's way: every column bound by name, a key missing from `ligne` as NULL.
    void lier(QSqlQuery &insertion, const QJsonObject &ligne) const;

private:
    QStringList m_cles;
    QString m_texte;
    QString m_texteLie;
    QStringList m_colonnes;
    QStringList m_marques;
    // Where each column, and the id, is bound in the kept statement; found
    // once, the first time it is used.
    QVector<int> m_indices;
    int m_indiceId = 0;
};

#endif
