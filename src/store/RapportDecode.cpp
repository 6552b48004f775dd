// SPDX-License-Identifier: MIT
#include "RapportDecode.h"

#include "ClesJson.h"

#include <QJsonParseError>

namespace {

QJsonDocument lire(const QByteArray &octets, QJsonParseError *erreur)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QJsonDocument::fromJson(ClesJson::renommerDoublons(octets), erreur);
#else
    // Qt 6's parser keeps no duplicate key's value behind.
    return QJsonDocument::fromJson(octets, erreur);
#endif
}

} // namespace

RapportDecode::RapportDecode(const QString &texte)
    : m_texte(texte)
{
    decoder();
}

RapportDecode RapportDecode::aDecoder(const QString &texte)
{
    RapportDecode rapport;
    rapport.m_texte = texte;
    return rapport;
}

void RapportDecode::decoder()
{
    if (decode())
        return;
    m_octets = m_texte.toLatin1();
    QJsonParseError erreur;
    m_document = lire(m_octets, &erreur);
    // Agents on older hosts write their texts in Latin-1: their bytes are not
    // UTF-8, and rejecting the report would lose it, so they are read as the
    // Latin-1 characters they are.
    if (erreur.error == QJsonParseError::IllegalUTF8String)
        m_document = lire(m_texte.toUtf8(), &erreur);
    m_lisible = erreur.error == QJsonParseError::NoError;
    m_texte = QString();
    m_decode = true;
}
