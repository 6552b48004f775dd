// SPDX-License-Identifier: MIT
#include "InstructionInsertion.h"

#include <QJsonValue>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVarLengthArray>
#include <QVariant>

#include <sqlite3.h>

namespace {

QVariant valeurSql(const QJsonValue &valeur)
{
    if (valeur.isNull() || valeur.isUndefined())
        return QVariant();
    return valeur.toVariant();
}

// Binds a value as Qt's SQLite driver binds it for an exec(), type for type,
// so that a row stored either way is the same row. A string must outlive
// the statement's next step.
bool lierValeur(sqlite3_stmt *instruction, int indice, const QVariant &valeur)
{
    if (!valeur.isValid())
        return sqlite3_bind_null(instruction, indice) == SQLITE_OK;
    switch (valeur.userType()) {
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(instruction, indice, valeur.toInt()) == SQLITE_OK;
    case QMetaType::Double:
        return sqlite3_bind_double(instruction, indice, valeur.toDouble()) == SQLITE_OK;
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(instruction, indice, valeur.toLongLong()) == SQLITE_OK;
    case QMetaType::QString: {
        const QString *texte = static_cast<const QString *>(valeur.constData());
        if (texte->isNull())
            return sqlite3_bind_null(instruction, indice) == SQLITE_OK;
        return sqlite3_bind_text16(instruction, indice, texte->utf16(), int(texte->size() * sizeof(QChar)), SQLITE_STATIC)
               == SQLITE_OK;
    }
    default: {
        const QString texte = valeur.toString();
        return sqlite3_bind_text16(instruction, indice, texte.utf16(), int(texte.size() * sizeof(QChar)),
                                   SQLITE_TRANSIENT)
               == SQLITE_OK;
    }
    }
}

// The statement under a query the driver keeps; null once it is finalized.
sqlite3_stmt *instructionSqlite(const QSqlQuery &requete)
{
    const QSqlResult *resultat = requete.result();
    if (!resultat)
        return nullptr;
    const QVariant poignee = resultat->handle();
    if (!poignee.isValid() || qstrcmp(poignee.typeName(), "sqlite3_stmt*") != 0)
        return nullptr;
    return *static_cast<sqlite3_stmt *const *>(poignee.constData());
}

} // namespace

InstructionInsertion::InstructionInsertion(const QString &modele, const QStringList &cles, const QJsonObject &premiere)
    : m_cles(cles)
{
    QString listeColonnes;
    QString listeMarques;
    for (const QString &cle : cles) {
        if (!premiere.contains(cle))
            continue;
        m_colonnes << cle;
        m_marques << QLatin1Char(':') + cle;
        listeColonnes += QLatin1Char(' ') + cle + QLatin1Char(',');
        listeMarques += QStringLiteral(" :") + cle + QLatin1Char(',');
    }
    listeColonnes.chop(1);
    listeMarques.chop(1);
    m_texte = modele.arg(listeColonnes, listeMarques);
    if (m_texte.contains(QLatin1String("%3")))
        m_texteLie = m_texte.arg(QStringLiteral(":idinfos"));
}

// No per-row bookkeeping of Qt's: the values are bound by position.
bool InstructionInsertion::insererVite(QSqlQuery &insertion, const QJsonObject &ligne, const QVariant *idinfos, qint64 *id)
{
    sqlite3_stmt *const etape = instructionSqlite(insertion);
    if (!etape)
        return false;
    if (m_indices.size() != m_colonnes.size()) {
        m_indices.clear();
        for (const QString &marque : qAsConst(m_marques))
            m_indices << sqlite3_bind_parameter_index(etape, marque.toUtf8().constData());
        m_indiceId = sqlite3_bind_parameter_index(etape, ":idinfos");
    }
    if (sqlite3_bind_parameter_count(etape) != m_colonnes.size() + (idinfos ? 1 : 0) || (idinfos && m_indiceId == 0)
        || m_indices.contains(0))
        return false;

    sqlite3_reset(etape);
    // Bound strings point into these values until the step is done.
    QVarLengthArray<QVariant, 16> valeurs;
    bool lie = !idinfos || lierValeur(etape, m_indiceId, *idinfos);
    for (int i = 0; lie && i < m_colonnes.size(); ++i) {
        valeurs.append(valeurSql(ligne.value(m_colonnes.at(i))));
        lie = lierValeur(etape, m_indices.at(i), valeurs.last());
    }
    const bool stockee = lie && sqlite3_step(etape) == SQLITE_DONE;
    if (stockee)
        *id = sqlite3_last_insert_rowid(sqlite3_db_handle(etape));
    sqlite3_reset(etape);
    sqlite3_clear_bindings(etape);
    return stockee;
}

void InstructionInsertion::lier(QSqlQuery &insertion, const QJsonObject &ligne) const
{
    // A key missing from a later row is stored as NULL, never as the value
    // left bound by the row before.
    for (int i = 0; i < m_colonnes.size(); ++i)
        insertion.bindValue(m_marques.at(i), valeurSql(ligne.value(m_colonnes.at(i))));
}
