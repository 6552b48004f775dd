// SPDX-License-Identifier: MIT
#include "FileRapports.h"

#include <QMutexLocker>

FileRapports::FileRapports(QObject *parent)
    : QObject(parent)
{
}

QVector<RapportDecode> FileRapports::prendre()
{
    QVector<RapportDecode> rapports;
    const QMutexLocker verrou(&m_verrou);
    rapports.swap(m_rapports);
    return rapports;
}

void FileRapports::ajouter(const QString &rapport)
{
    bool premier;
    {
        const QMutexLocker verrou(&m_verrou);
        premier = m_rapports.isEmpty();
        m_rapports.append(RapportDecode::aDecoder(rapport));
    }
    // One wake-up per non-empty spell: the taker empties the whole queue
    // each time, and a report added after that empties it again is followed
    // by a wake-up of its own.
    if (premier)
        emit rapportsEnAttente();
}

void FileRapports::ajouter(QVector<RapportDecode> &&rapports)
{
    if (rapports.isEmpty())
        return;
    bool premier;
    {
        const QMutexLocker verrou(&m_verrou);
        premier = m_rapports.isEmpty();
        if (premier)
            m_rapports.swap(rapports);
        else
            m_rapports += rapports;
    }
    if (premier)
        emit rapportsEnAttente();
}
