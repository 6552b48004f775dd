// SPDX-License-Identifier: MIT
#ifndef SEGMENTJOURNAL_H
#define SEGMENTJOURNAL_H

#include <QByteArray>
#include <QStringList>

// The bytes of a journal segment: a header, then one record per report,
// the report's length (32-bit big-endian), a CRC-16 of its bytes, then its
// Latin-1 bytes. A torn or damaged record ends the reading of its segment.
class SegmentJournal
{
public:
    static const QByteArray &entete();
    // Each record's checksum: CRC-16/X-25, as qChecksum computes it.
    static quint16 somme(const char *donnees, qsizetype taille);

    // Appends the record of `rapport` to `octets`.
    static void ajouter(QByteArray &octets, const QByteArray &rapport);
    // The reports a segment holds, in order; `ignores` grows by the bytes
    // after its last whole record.
    static QStringList lire(const QByteArray &octets, qint64 &ignores);
    // The records wholly within the first `taille` bytes of `octets`, which
    // begin with the header or with a record.
    static qint64 enregistrementsComplets(const QByteArray &octets, qint64 taille);
};

#endif
