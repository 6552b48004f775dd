// SPDX-License-Identifier: MIT
#ifndef FILERAPPORTS_H
#define FILERAPPORTS_H

#include "RapportJson.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

// Reports on their way from one thread to another: from the receiver to the
// decoder, and from the decoder to the store. The taker takes all that wait
// at once, so that a burst is handled in few steps (and stored in few
// transactions) and costs one wake-up instead of one event per report.
class FileRapports : public QObject
{
    Q_OBJECT

public:
    explicit FileRapports(QObject *parent = nullptr);

    // Everything waiting, oldest first; the queue is left empty.
    QVector<RapportJson> prendre();

    // Safe from any thread, as are the others.
    void ajouter(QVector<RapportJson> &&rapports);
    // Reports added one by one then wake the taker only at publier(): a
    // burst read from the socket costs one wake-up, not one per report.
    void differerReveil(bool differer);

public slots:
    // The text as received, still to be decoded.
    void ajouter(const QString &rapport);
    // Wakes the taker if reports wait and it has not been woken for them.
    void publier();

signals:
    // Emitted by the adding thread, once until the taker takes the queue.
    void rapportsEnAttente();

private:
    QMutex m_verrou;
    QVector<RapportJson> m_rapports;
    bool m_reveilDemande = false;
    bool m_differe = false;
};

#endif
