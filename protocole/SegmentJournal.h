// SPDX-License-Identifier: MIT
#ifndef SEGMENTJOURNAL_H
#define SEGMENTJOURNAL_H

#include <QByteArray>
#include <QList>
#include <QString>

// A segment of the collector's journal, as the collector writes it and the
// dashboard reads the hour in progress from it: a fixed header, then one
// record per report, its length (32-bit big-endian), a CRC-16 of its bytes
// and its Latin-1 bytes. A torn or damaged record ends the segment.
namespace SegmentJournal {

// The segment's first bytes.
const QByteArray &entete();
// Length and checksum, before a record's bytes.
constexpr int tailleEnregistrement = 6;

// Each record's checksum: CRC-16/X-25, as qChecksum computes it.
quint16 somme(const char *donnees, qsizetype taille);

// Appends the record of `octets` to `tampon`.
void ajouter(QByteArray &tampon, const char *octets, qsizetype taille);

struct Enregistrement
{
    const char *octets = nullptr;
    qsizetype taille = 0;
    quint16 sommeAttendue = 0;

    bool intact() const { return somme(octets, taille) == sommeAttendue; }
};

// The record at `position` in a segment's `taille` bytes, `position` moved
// past it; false at the end or on a torn record, or on a damaged one when
// `verifier` (otherwise intact() tells). The first record is at
// entete().size(), once the header is checked (estSegment()).
bool suivant(const char *segment, qsizetype taille, qsizetype &position, Enregistrement &enregistrement,
             bool verifier = true);
bool estSegment(const char *segment, qsizetype taille);
// How many records lie wholly within the first `taille` bytes of `octets`,
// which begin with the header or with a record: what a write cut short
// kept.
qint64 enregistrementsComplets(const QByteArray &octets, qint64 taille);

// A segment in the collector's folder, by its name (FichierSauvegarde's).
struct Segment
{
    int numero = 0;
    QString nom;
    // The backup it was assigned to, empty while reports are written to it.
    QString sauvegarde;
};

// Every segment in `dossier`, in the order they were begun.
QList<Segment> segments(const QString &dossier);

} // namespace SegmentJournal

#endif
