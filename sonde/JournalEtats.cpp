// SPDX-License-Identifier: MIT
#include "JournalEtats.h"

#include "Console.h"

void JournalEtats::ecrire(const QString &ligne)
{
    Console::erreur(ligne);
    emit ecrite(ligne);
}

void JournalEtats::panne(const QString &partie, const QString &ligneDefaut)
{
    if (m_pannes.contains(partie))
        return;
    m_pannes.insert(partie);
    ecrire(ligneDefaut);
}

bool JournalEtats::retour(const QString &partie, const QString &ligneRetour)
{
    if (!m_pannes.remove(partie))
        return false;
    ecrire(ligneRetour);
    return true;
}
