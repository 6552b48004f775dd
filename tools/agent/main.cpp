// SPDX-License-Identifier: MIT
#include "Agent.h"
#include "ArretSignaux.h"
#include "LigneCommandeAgent.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-agent"));

    LigneCommandeAgent ligne;
    const AnalyseurOptions::Resultat resultat = ligne.analyser(QCoreApplication::arguments());
    if (resultat != AnalyseurOptions::Executer)
        return AnalyseurOptions::terminer(resultat, ligne.texte());

    ArretSignaux arret;
    Agent agent(ligne.parametres());
    QObject::connect(&arret, &ArretSignaux::arretDemande, &application, [&agent] { agent.arreter(); });
    if (!agent.preparer())
        return 1;
    return agent.executer();
}
