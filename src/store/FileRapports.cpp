// SPDX-License-Identifier: MIT
#include "FileRapports.h"

#include <QMutexLocker>

FileRapports::FileRapports(QObject *parent)
    : QObject(parent)
{
}

QVector<RapportJson> FileRapports::prendre()
{
    QVector<RapportJson> rapports;
    const QMutexLocker verrou(&m_verrou);
    rapports.swap(m_rapports);
    m_reveilDemande = false;
    return rapports;
}

void FileRapports::differerReveil(bool differer)
{
    const QMutexLocker verrou(&m_verrou);
    m_differe = differer;
}

// One wake-up per spell of waiting reports: the taker takes the whole queue
// each time, and a report added after that is followed by a wake-up of its own.
void FileRapports::ajouter(const QString &rapport)
{
    bool reveiller;
    {
        const QMutexLocker verrou(&m_verrou);
        m_rapports.append(RapportJson::aDecoder(rapport));
        reveiller = !m_differe && !m_reveilDemande;
        m_reveilDemande = m_reveilDemande || reveiller;
    }
    if (reveiller)
        emit rapportsEnAttente();
}

void FileRapports::ajouter(QVector<RapportJson> &&rapports)
{
    if (rapports.isEmpty())
        return;
    bool reveiller;
    {
        const QMutexLocker verrou(&m_verrou);
        if (m_rapports.isEmpty())
            m_rapports.swap(rapports);
        else
            m_rapports += rapports;
        reveiller = !m_reveilDemande;
        m_reveilDemande = true;
    }
    if (reveiller)
        emit rapportsEnAttente();
}

void FileRapports::publier()
{
    bool reveiller;
    {
        const QMutexLocker verrou(&m_verrou);
        reveiller = !m_rapports.isEmpty() && !m_reveilDemande;
        m_reveilDemande = m_reveilDemande || reveiller;
    }
    if (reveiller)
        emit rapportsEnAttente();
}
