// SPDX-License-Identifier: MIT
#ifndef EXPORTHISTORIQUE_H
#define EXPORTHISTORIQUE_H

#include "Historique.h"

#include <QByteArray>

// A history as the page reads it (JSON) and as it is downloaded (CSV): the
// CSV holds exactly what the page draws for the same request, the
// hypervisor's measures or, for one VM, that VM's.
class ExportHistorique
{
public:
    // {nom, vm?, depuis, jusqua, pas, fichiers, illisibles, segments,
    //  sources[{type, resolution, lignes, jusqua and palier (archive)}], erreurs[],
    //  hyperviseur{t[], cpu[]...}, vms[{nom, uuid, t[], cpu[]...}]}
    static QByteArray json(const Historique &historique);
    // A header row (time in ISO 8601 UTC, then each measure with its unit),
    // then one row per point; an absent value is an empty field.
    static QByteArray csv(const Historique &historique);
    // For Content-Disposition: the names as the archive writes them in its
    // paths, so that nothing from the network can break out of the header.
    static QByteArray nomCsv(const Historique &historique);
    // One CSV field, quoted when it has to be (RFC 4180).
    static QByteArray champCsv(const QString &texte);
};

#endif
