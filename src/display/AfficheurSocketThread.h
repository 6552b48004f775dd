// SPDX-License-Identifier: MIT
#ifndef AFFICHEURSOCKETTHREAD_H
#define AFFICHEURSOCKETTHREAD_H

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include <atomic>

// Serves one display client from a thread of its own: one frame per report
// (4-byte big-endian length, marker byte 1, Latin-1 text), never reads what
// the client sends, and deletes itself once the client is gone.
class AfficheurSocketThread : public QTcpSocket
{
    Q_OBJECT

public:
    // Unsent bytes a client may leave behind before it is cut off: a client
    // that stops reading must not make the collector grow without limit.
    static constexpr qint64 TailleMaxEnAttente = 32 * 1024 * 1024;

    // What all the connections of one server hold together, shared between
    // their threads.
    struct Budget
    {
        explicit Budget(qint64 max) : maximum(max) {}
        const qint64 maximum;
        std::atomic<qint64> octets{0};
        std::atomic<int> clients{0};
    };

    explicit AfficheurSocketThread(qintptr socketDescriptor, QObject *parent = nullptr, Budget *budget = nullptr);
    ~AfficheurSocketThread() override;

public slots:
    void receptionDonnees(QString donnees);
    // One report's display frame, already encoded.
    void envoyerTrame(QByteArray trame);
    // Sends what the client accepts within a short delay, then closes the
    // connection, which ends the object.
    void fermer();

private:
    bool tropEnRetard(qint64 avant, qint64 trame) const;
    void ecrits(qint64 octets);

    Budget *m_budget;
    qint64 m_enAttente = 0;
    // The peer's address while connected, read once rather than per frame.
    QString m_adresse;
};

#endif
