// SPDX-License-Identifier: MIT
#include "Archiveur.h"
#include "ArretSignaux.h"
#include "Console.h"
#include "LigneCommandeArchive.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-archive"));

    ParametresArchive parametres;
    QString message;
    switch (LigneCommandeArchive::analyser(QCoreApplication::arguments(), parametres, message)) {
    case LigneCommandeArchive::Aide:
        Console::sortie(message);
        Console::vider();
        return 0;
    case LigneCommandeArchive::Invalide:
        Console::erreur(message);
        return 2;
    case LigneCommandeArchive::Valide:
        break;
    }

    ArretSignaux arret;
    Archiveur archiveur(parametres);
    QObject::connect(&arret, &ArretSignaux::arretDemande, &archiveur, [&archiveur]() {
        Console::erreur(QStringLiteral("Arrêt de l'archivage."));
        archiveur.arreter();
    });
    QObject::connect(&archiveur, &Archiveur::termine, &application, &QCoreApplication::exit);
    if (!archiveur.demarrer())
        return 1;
    return application.exec();
}
