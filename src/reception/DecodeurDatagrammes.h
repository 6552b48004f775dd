// SPDX-License-Identifier: MIT
#ifndef DECODEURDATAGRAMMES_H
#define DECODEURDATAGRAMMES_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <list>

// The receiver's per-datagram work, apart from its socket so that any bytes
// can be put through it: the 4-byte big-endian sequence number, the check
// against the last number of the same sender address, and the report text.
//
// The table of senders is bounded: a sender not heard for a day is
// forgotten, and past the cap the least recently heard goes first. Datagrams
// with forged source addresses cannot grow it without limit; a forgotten
// sender's next datagram is taken as its first, without a loss line.
class DecodeurDatagrammes
{
public:
    static constexpr int expediteursMaxParDefaut = 65536;
    static constexpr qint64 oubliParDefautMs = 24 * 3600 * 1000;

    struct Datagramme
    {
        quint32 sequence = 0;
        // Whether the number does not follow the sender's last one, in which
        // case perdus is the gap, negative for a repeat or a step back.
        bool horsSequence = false;
        int perdus = 0;
        QString texte;
    };

    explicit DecodeurDatagrammes(int expediteursMax = expediteursMaxParDefaut, qint64 oubliMs = oubliParDefautMs);

    // Records the datagram's number as the sender's last one, heard at
    // `maintenantMs` (any steady clock in milliseconds).
    Datagramme decoder(const QString &expediteur, const QByteArray &octets, qint64 maintenantMs);
    Datagramme decoder(const QString &expediteur, const QByteArray &octets);

    int expediteurs() const { return int(m_sequences.size()); }
    bool connait(const QString &expediteur) const { return m_sequences.contains(expediteur); }

private:
    struct Expediteur
    {
        quint32 sequence;
        qint64 entendu;
        std::list<QString>::iterator place;
    };
    void oublier(qint64 maintenantMs);

    int m_expediteursMax;
    qint64 m_oubliMs;
    QHash<QString, Expediteur> m_sequences;
    // Least recently heard first.
    std::list<QString> m_ordre;
    QElapsedTimer m_horloge;
};

#endif
