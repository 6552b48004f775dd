// SPDX-License-Identifier: MIT
#include "JournalEtats.h"

#include <QByteArray>

void JournalEtats::ecrire(const QString &ligne)
{
    const QByteArray octets = ligne.toLocal8Bit() + '\n';
    std::fwrite(octets.constData(), 1, size_t(octets.size()), m_flux);
    std::fflush(m_flux);
}

void JournalEtats::panne(const QString &partie, const QString &ligneDefaut)
{
    if (m_pannes.contains(partie))
        return;
    m_pannes.insert(partie, true);
    ecrire(ligneDefaut);
}

bool JournalEtats::retour(const QString &partie, const QString &ligneRetour)
{
    if (m_pannes.remove(partie) == 0)
        return false;
    ecrire(ligneRetour);
    return true;
}
