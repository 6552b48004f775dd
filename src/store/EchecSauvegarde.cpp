// SPDX-License-Identifier: MIT
#include "EchecSauvegarde.h"

#include "Console.h"

#include <cstring>

void EchecSauvegarde::noter(const QString &etape, const QString &fichier, const QString &erreur)
{
    if (survenu())
        return;
    m_etape = etape;
    m_fichier = fichier;
    m_erreur = erreur;
}

QString EchecSauvegarde::erreurSysteme(int numero)
{
    return QString::fromLocal8Bit(std::strerror(numero));
}

void EchecSauvegarde::signaler() const
{
    Console::ecrire(tr("Échec de la sauvegarde dans %1, étape « %2 » : %3").arg(m_fichier, m_etape, m_erreur));
}
