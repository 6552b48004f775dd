#ifndef DECODEURDATAGRAMMES_H
#define DECODEURDATAGRAMMES_H

#include <QByteArray>
#include <QHash>
#include <QString>

// The receiver's per-datagram work, apart from its socket so that any bytes
// can be put through it: the 4-byte big-endian sequence number, the check
// against the last number of the same sender address, and the report text.
class DecodeurDatagrammes
{
public:
    struct Datagramme
    {
        quint32 sequence = 0;
        // Whether the number does not follow the sender's last one, in which
        // case perdus is the gap, negative for a repeat or a step back.
        bool horsSequence = false;
        int perdus = 0;
        QString texte;
    };

    // Records the datagram's number as the sender's last one.
    Datagramme decoder(const QString &expediteur, const QByteArray &octets);

private:
    QHash<QString, quint32> m_sequences;
};

#endif
