// SPDX-License-Identifier: MIT
#ifndef FILERAPPORTS_H
#define FILERAPPORTS_H

#include "RapportDecode.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

// Reports on their way from the receiver's thread to the store's, decoded on
// the way by the thread that adds them. The store takes all that wait at
// once, so that a burst is stored in few transactions and costs one wake-up
// instead of one event per report.
class FileRapports : public QObject
{
    Q_OBJECT

public:
    explicit FileRapports(QObject *parent = nullptr);

    // Everything waiting, oldest first; the queue is left empty.
    QVector<RapportDecode> prendre();

public slots:
    // Safe from any thread; the decoding is the caller's work.
    void ajouter(const QString &rapport);

signals:
    // Emitted by the thread that adds the first report to an empty queue.
    void rapportsEnAttente();

private:
    QMutex m_verrou;
    QVector<RapportDecode> m_rapports;
};

#endif
