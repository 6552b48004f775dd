// SPDX-License-Identifier: MIT
#ifndef FICHIERSAUVEGARDE_H
#define FICHIERSAUVEGARDE_H

#include <QDateTime>
#include <QString>
#include <QStringList>

// The backup file, as the collector writes it and every other program reads
// it: its name, the names it goes by before and after a crash, the journal
// segments named after it, and its schema. Operators' scripts and the
// dashboard rely on each of them, so they are written here only.
namespace FichierSauvegarde {

// "collecteurDD-MM-YYYY_hh-mm-ss.db", after the local time it was written at.
QString nom(const QDateTime &instant);
// When a backup named `nomFichier` (a file name, not a path) was written;
// invalid when the name is not a backup's.
QDateTime instant(const QString &nomFichier);
bool estNom(const QString &nomFichier);
// For QDir::entryList: every backup file, and more (check with estNom()).
QString filtreNoms();

// A backup is written under its name with this suffix and renamed once
// complete and on disk, so that a backup name always holds a whole database.
QString suffixeEnCours();
// Where a start-up puts the file of a backup that a crash interrupted.
QString suffixeInterrompue();
// Added by collecteur-archive to a file it cannot read as a backup, which it
// keeps for the operator rather than delete.
QString suffixeIllisible();

// The journal: "collecteur-N.journal" while reports arrive, renamed
// "<backup>.journal-N" when the backup that will hold them starts.
QString nomSegmentJournal(int numero);
QString nomSegmentAssigne(const QString &sauvegarde, int numero);
// Capture 1 is the segment's number.
QString motifSegmentJournal();
// Capture 1 is the backup's name, capture 2 the segment's number.
QString motifSegmentAssigne();
QString filtreSegmentsJournal();
QString filtreSegmentsAssignes(const QString &sauvegarde);

// Both tables and their indexes, in the order they are created.
QString tableHyperviseurs();
QString tableVMs();
const QStringList &schema();

} // namespace FichierSauvegarde

#endif
