// SPDX-License-Identifier: MIT
#include "Afficheur.h"
#include "ArretSignaux.h"
#include "LigneCommandeAfficheur.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-afficheur"));

    LigneCommandeAfficheur ligne;
    const AnalyseurOptions::Resultat resultat = ligne.analyser(QCoreApplication::arguments());
    if (resultat != AnalyseurOptions::Executer)
        return AnalyseurOptions::terminer(resultat, ligne.texte());

    ArretSignaux arret;
    Afficheur afficheur(ligne.parametres());
    QObject::connect(&arret, &ArretSignaux::arretDemande, &afficheur, &Afficheur::arreter);
    QObject::connect(&afficheur, &Afficheur::termine, &application, &QCoreApplication::exit, Qt::QueuedConnection);
    afficheur.demarrer();
    return application.exec();
}
