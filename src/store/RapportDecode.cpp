// SPDX-License-Identifier: MIT
#include "RapportDecode.h"

#include "LectureJson.h"

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
    QJsonParseError erreur;
    m_document = LectureJson::lireRapport(m_texte, &erreur, &m_octets);
    m_lisible = erreur.error == QJsonParseError::NoError;
    m_texte = QString();
    m_decode = true;
}
