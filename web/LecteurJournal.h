// SPDX-License-Identifier: MIT
#ifndef LECTEURJOURNAL_H
#define LECTEURJOURNAL_H

#include "SeriesCumulees.h"

#include <QString>

// The hour in progress, read from the collector's journal: the reports of
// its segments that no backup file holds yet. The journal rather than a
// live window kept longer in EtatFlotte: it survives a restart of the
// dashboard, holds what arrived while the dashboard was away, and costs the
// dashboard no memory. Segments are opened read-only and mapped, never
// written; a record that is torn or damaged ends its segment, as it does for
// the collector when it reads the journal back. Safe from any thread.
class LecteurJournal
{
public:
    struct Bilan
    {
        int segments = 0; // read
        qint64 rapports = 0; // of the hypervisor, in the range
    };

    // Adds the reports of hypervisor `nom` timed in the grid's [min, max],
    // with the VMs chosen, to `series`.
    static Bilan lire(const QString &dossier, const QString &nom, const ChoixVMs &vms, const GrilleHistorique &grille,
                      SeriesCumulees &series);
};

#endif
