// SPDX-License-Identifier: MIT
#ifndef DATAGRAMMERAPPORT_H
#define DATAGRAMMERAPPORT_H

#include <QByteArray>
#include <QString>

// The report datagram an agent sends: a 4-byte big-endian sequence number,
// then the report text, one byte per character (Latin-1), ending at the first
// zero byte or at the end of the datagram.
class DatagrammeRapport
{
public:
    static constexpr int tailleEntete = 4;
    // The most a UDP datagram over IPv4 can carry.
    static constexpr int tailleMaximale = 65507;

    // Replaces `tampon` with the header of a datagram numbered `sequence`;
    // the report is appended after it. The buffer keeps its capacity.
    static void commencer(QByteArray &tampon, quint32 sequence);
    static QByteArray ecrire(quint32 sequence, const QByteArray &rapport);

    // The big-endian value of the first four bytes, or of those present in a
    // shorter datagram (0 for an empty one).
    static quint32 sequence(const QByteArray &octets);
    static QString texte(const QByteArray &octets);
};

#endif
