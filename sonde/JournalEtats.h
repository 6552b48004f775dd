// SPDX-License-Identifier: MIT
#ifndef JOURNALETATS_H
#define JOURNALETATS_H

#include <QHash>
#include <QString>

#include <cstdio>

// The agent's console: one plain French line on standard error when a part
// changes state (libvirt, a measure, a collector), never one per interval, so
// that a fault lasting days leaves two lines in the journal, not thousands.
class JournalEtats
{
public:
    explicit JournalEtats(std::FILE *flux = stderr) : m_flux(flux) {}

    void ecrire(const QString &ligne);

    // Writes `ligneDefaut` when `partie` goes from working (its state at
    // first) to failing, `ligneRetour` when it works again; nothing otherwise.
    // retour() tells whether it wrote.
    void panne(const QString &partie, const QString &ligneDefaut);
    bool retour(const QString &partie, const QString &ligneRetour);
    bool enPanne(const QString &partie) const { return m_pannes.contains(partie); }

private:
    std::FILE *m_flux;
    QHash<QString, bool> m_pannes;
};

#endif
