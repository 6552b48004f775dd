// SPDX-License-Identifier: MIT
#include "ApplicationWeb.h"
#include "ArretSignaux.h"
#include "LigneCommandeWeb.h"
#include "Console.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-web"));
    // A page that goes away mid-answer must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    ParametresWeb parametres;
    QString message;
    switch (LigneCommandeWeb::analyser(QCoreApplication::arguments(), parametres, message)) {
    case AnalyseurOptions::Aide:
        Console::sortie(message);
        Console::vider();
        return 0;
    case AnalyseurOptions::Erreur:
        Console::erreur(message);
        return 2;
    case AnalyseurOptions::Executer:
        break;
    }

    ArretSignaux arret;
    ApplicationWeb web(parametres);
    arret.intercepterRechargement();
    QObject::connect(&arret, &ArretSignaux::rechargementDemande, &web, &ApplicationWeb::recharger);
    QObject::connect(&arret, &ArretSignaux::arretDemande, &application, [&]() {
        Console::erreur(QStringLiteral("Arrêt du tableau de bord."));
        web.arreter();
        application.quit();
    });
    if (!web.demarrer())
        return 1;
    return application.exec();
}
