// SPDX-License-Identifier: MIT
#include "DecodeurRapports.h"

#include "FileRapports.h"

DecodeurRapports::DecodeurRapports(FileRapports *entree, FileRapports *sortie, QObject *parent)
    : QObject(parent)
    , m_entree(entree)
    , m_sortie(sortie)
{
    connect(entree, &FileRapports::rapportsEnAttente, this, &DecodeurRapports::decoder, Qt::QueuedConnection);
}

void DecodeurRapports::decoder()
{
    QVector<RapportJson> rapports = m_entree->prendre();
    for (RapportJson &rapport : rapports)
        rapport.decoder();
    m_sortie->ajouter(std::move(rapports));
}
