// SPDX-License-Identifier: MIT
#ifndef FILERAPPORTS_H
#define FILERAPPORTS_H

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

// Reports on their way from the receiver's thread to the store's. The store
// takes all that wait at once, so that a burst is stored in few transactions
// and costs one wake-up instead of one event per report.
class FileRapports : public QObject
{
    Q_OBJECT

public:
    explicit FileRapports(QObject *parent = nullptr);

    // Everything waiting, oldest first; the queue is left empty.
    QVector<QString> prendre();

public slots:
    // Safe from any thread.
    void ajouter(const QString &rapport);

signals:
    // Emitted by the thread that adds the first report to an empty queue.
    void rapportsEnAttente();

private:
    QMutex m_verrou;
    QVector<QString> m_rapports;
};

#endif
