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

void EchecSauvegarde::signalerPertes(qint64 rapports, qint64 perdus, bool journal)
{
    const QString debut = tr("Sauvegarde finale impossible : %1 rapport(s) dans aucun fichier de sauvegarde").arg(rapports);
    if (rapports == 0)
        Console::ecrire(tr("Sauvegarde finale impossible, mais aucun rapport n'attendait de sauvegarde."));
    else if (!journal)
        Console::ecrire(debut + tr(", et sans journal : ils sont perdus."));
    else if (perdus == 0)
        Console::ecrire(debut + tr(", tous gardés par le journal, qui les rendra au prochain démarrage dans ce dossier."));
    else if (perdus == rapports)
        Console::ecrire(debut + tr(", et le journal n'en garde aucun : ils sont perdus."));
    else
        Console::ecrire(debut + tr(", dont %1 que le journal ne garde pas (perdus) ; il rendra les %2 autre(s) au "
                                   "prochain démarrage dans ce dossier.")
                                    .arg(perdus)
                                    .arg(rapports - perdus));
}
