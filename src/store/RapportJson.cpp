// SPDX-License-Identifier: MIT
#include "RapportJson.h"

#include "LectureJson.h"

RapportJson::RapportJson(const QString &texte)
    : m_texte(texte)
{
    decoder();
}

RapportJson RapportJson::aDecoder(const QString &texte)
{
    RapportJson rapport;
    rapport.m_texte = texte;
    return rapport;
}

void RapportJson::decoder()
{
    if (decode())
        return;
    QJsonParseError erreur;
    m_document = LectureJson::lireRapport(m_texte, &erreur, &m_octets);
    m_lisible = erreur.error == QJsonParseError::NoError;
    m_texte = QString();
    m_decode = true;
}
