// SPDX-License-Identifier: MIT
#include "Afficheur.h"
#include "Console.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>

namespace {

void arreter(int)
{
    Afficheur::demanderArret();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-afficheur"));

    QCommandLineParser analyseur;
    analyseur.setApplicationDescription(QStringLiteral(
        "Client d'affichage du collecteur : se connecte à son port TCP d'affichage, lit les trames\n"
        "(longueur sur 4 octets signés gros-boutistes, marqueur 1 sur un octet, puis le texte Latin-1)\n"
        "et affiche chaque rapport sur la sortie standard, en une ligne lisible par défaut.\n"
        "Code de sortie : 0 quand --nombre trames sont lues (ou sur Ctrl-C), 1 si la connexion\n"
        "échoue ou se perd, 2 sur option invalide, 3 sur trame invalide."));
    analyseur.addHelpOption();
    const QString hote = QStringLiteral("hote");
    const QString port = QStringLiteral("port");
    const QString brut = QStringLiteral("brut");
    const QString silencieux = QStringLiteral("silencieux");
    const QString nombre = QStringLiteral("nombre");
    analyseur.addOptions({
        {hote, QStringLiteral("Adresse ou nom du collecteur (127.0.0.1 par défaut)."), QStringLiteral("adresse")},
        {port, QStringLiteral("Port TCP d'affichage du collecteur (56000 par défaut)."), QStringLiteral("N")},
        {brut, QStringLiteral("Affiche le texte de chaque rapport tel quel, suivi d'une fin de ligne.")},
        {silencieux, QStringLiteral("N'affiche aucun rapport ; compte les trames et affiche le bilan à la fin.")},
        {nombre, QStringLiteral("S'arrête avec succès après N trames (0 par défaut : sans limite)."), QStringLiteral("N")},
    });
    if (!analyseur.parse(QCoreApplication::arguments())) {
        Console::erreur(analyseur.errorText());
        return Afficheur::Usage;
    }
    if (analyseur.isSet(QStringLiteral("help")))
        analyseur.showHelp(0);
    if (!analyseur.positionalArguments().isEmpty()) {
        Console::erreur(QStringLiteral("Argument inattendu : %1").arg(analyseur.positionalArguments().constFirst()));
        return Afficheur::Usage;
    }

    ParametresAfficheur parametres;
    if (analyseur.isSet(hote))
        parametres.hote = analyseur.value(hote);
    bool ok = true;
    if (analyseur.isSet(port)) {
        const uint valeur = analyseur.value(port).toUInt(&ok);
        if (!ok || valeur == 0 || valeur > 65535) {
            Console::erreur(QStringLiteral("Valeur invalide pour --port : « %1 » (entier de 1 à 65535 attendu).")
                                 .arg(analyseur.value(port)));
            return Afficheur::Usage;
        }
        parametres.port = quint16(valeur);
    }
    if (analyseur.isSet(nombre)) {
        parametres.nombre = analyseur.value(nombre).toLongLong(&ok);
        if (!ok || parametres.nombre < 0) {
            Console::erreur(QStringLiteral("Valeur invalide pour --nombre : « %1 » (entier positif ou nul attendu).")
                                 .arg(analyseur.value(nombre)));
            return Afficheur::Usage;
        }
    }
    parametres.brut = analyseur.isSet(brut);
    parametres.silencieux = analyseur.isSet(silencieux);
    if (parametres.brut && parametres.silencieux) {
        Console::erreur(QStringLiteral("--brut et --silencieux ne vont pas ensemble."));
        return Afficheur::Usage;
    }

    Afficheur afficheur(parametres);
    QObject::connect(&afficheur, &Afficheur::termine, &application, &QCoreApplication::exit, Qt::QueuedConnection);
    std::signal(SIGINT, arreter);
    std::signal(SIGTERM, arreter);
    afficheur.demarrer();
    return application.exec();
}
