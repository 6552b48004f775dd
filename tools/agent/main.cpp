// SPDX-License-Identifier: MIT
#include "Agent.h"
#include "Console.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>

#include <csignal>

namespace {

constexpr int codeUsage = 2;

void arreter(int)
{
    Agent::demanderArret();
}

// Whole number in [min, max]; prints what is wrong otherwise.
bool lireEntier(const QCommandLineParser &analyseur, const QString &option, qint64 min, qint64 max, qint64 &valeur)
{
    if (!analyseur.isSet(option))
        return true;
    bool ok = false;
    const qint64 lu = analyseur.value(option).toLongLong(&ok);
    if (!ok || lu < min || lu > max) {
        Console::erreur(QStringLiteral("Valeur invalide pour --%1 : « %2 » (entier de %3 à %4 attendu).")
                             .arg(option, analyseur.value(option))
                             .arg(min)
                             .arg(max));
        return false;
    }
    valeur = lu;
    return true;
}

bool lireReel(const QCommandLineParser &analyseur, const QString &option, double &valeur)
{
    if (!analyseur.isSet(option))
        return true;
    bool ok = false;
    const double lu = analyseur.value(option).toDouble(&ok);
    if (!ok || !(lu >= 0) || lu > 1e9) {
        Console::erreur(QStringLiteral("Valeur invalide pour --%1 : « %2 » (nombre positif ou nul attendu).")
                             .arg(option, analyseur.value(option)));
        return false;
    }
    valeur = lu;
    return true;
}

bool resoudre(const QString &hote, QHostAddress &adresse)
{
    if (adresse.setAddress(hote))
        return true;
    const QHostInfo info = QHostInfo::fromName(hote);
    for (const QHostAddress &candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            adresse = candidate;
            return true;
        }
    }
    if (!info.addresses().isEmpty()) {
        adresse = info.addresses().constFirst();
        return true;
    }
    Console::erreur(QStringLiteral("Hôte introuvable : %1 (%2)").arg(hote, info.errorString()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-agent"));

    QCommandLineParser analyseur;
    analyseur.setApplicationDescription(QStringLiteral(
        "Simule des agents d'hyperviseurs et envoie leurs rapports au collecteur, en datagrammes UDP :\n"
        "numéro de séquence sur 4 octets (gros-boutiste), puis le rapport JSON.\n"
        "Chaque hyperviseur simulé numérote ses datagrammes à partir de 1 ; vers la boucle locale,\n"
        "l'hyperviseur i envoie depuis l'adresse 127.0.0.i, pour que le collecteur les suive à part.\n"
        "S'arrête après --nombre datagrammes par hyperviseur ou après --duree secondes (le premier\n"
        "atteint), sinon sur Ctrl-C ; le débit obtenu est affiché chaque seconde et à la fin.\n"
        "Code de sortie : 0 si tout est envoyé, 1 sur échec d'envoi ou de liaison, 2 sur option invalide."));
    analyseur.addHelpOption();
    const QString hote = QStringLiteral("hote");
    const QString port = QStringLiteral("port");
    const QString hyperviseurs = QStringLiteral("hyperviseurs");
    const QString vms = QStringLiteral("vms");
    const QString rythme = QStringLiteral("rythme");
    const QString nombre = QStringLiteral("nombre");
    const QString duree = QStringLiteral("duree");
    const QString trou = QStringLiteral("trou");
    const QString repetition = QStringLiteral("repetition");
    const QString inversion = QStringLiteral("inversion");
    const QString silencieux = QStringLiteral("silencieux");
    analyseur.addOptions({
        {hote, QStringLiteral("Adresse ou nom du collecteur (127.0.0.1 par défaut)."), QStringLiteral("adresse")},
        {port, QStringLiteral("Port UDP du collecteur (55000 par défaut)."), QStringLiteral("N")},
        {hyperviseurs, QStringLiteral("Nombre d'hyperviseurs simulés, de 1 à 254 (1 par défaut)."), QStringLiteral("N")},
        {vms, QStringLiteral("Nombre de VM par rapport (3 par défaut)."), QStringLiteral("N")},
        {rythme, QStringLiteral("Datagrammes par seconde et par hyperviseur (1 par défaut ; 0 : au plus vite)."), QStringLiteral("R")},
        {nombre, QStringLiteral("Datagrammes à envoyer par hyperviseur, répétitions comprises (0 par défaut : sans limite)."), QStringLiteral("N")},
        {duree, QStringLiteral("Durée maximale de l'envoi en secondes (0 par défaut : sans limite)."), QStringLiteral("S")},
        {trou, QStringLiteral("Saute un numéro de séquence tous les N datagrammes (un paquet perdu)."), QStringLiteral("N")},
        {repetition, QStringLiteral("Envoie deux fois un datagramme sur N."), QStringLiteral("N")},
        {inversion, QStringLiteral("Tous les N datagrammes, envoie le suivant avant celui-ci."), QStringLiteral("N")},
        {silencieux, QStringLiteral("N'affiche pas le débit chaque seconde, seulement le bilan final.")},
    });
    if (!analyseur.parse(QCoreApplication::arguments())) {
        Console::erreur(analyseur.errorText());
        return codeUsage;
    }
    if (analyseur.isSet(QStringLiteral("help")))
        analyseur.showHelp(0);
    if (!analyseur.positionalArguments().isEmpty()) {
        Console::erreur(QStringLiteral("Argument inattendu : %1").arg(analyseur.positionalArguments().constFirst()));
        return codeUsage;
    }

    ParametresAgent parametres;
    qint64 entier = parametres.port;
    bool valide = lireEntier(analyseur, port, 1, 65535, entier);
    parametres.port = quint16(entier);
    entier = parametres.hyperviseurs;
    valide = lireEntier(analyseur, hyperviseurs, 1, 254, entier) && valide;
    parametres.hyperviseurs = int(entier);
    entier = parametres.vms;
    valide = lireEntier(analyseur, vms, 0, 1000, entier) && valide;
    parametres.vms = int(entier);
    valide = lireEntier(analyseur, nombre, 0, Q_INT64_C(1) << 53, parametres.nombre) && valide;
    for (const auto &[option, champ] : {std::pair<QString, int *>{trou, &parametres.trou},
                                        {repetition, &parametres.repetition},
                                        {inversion, &parametres.inversion}}) {
        entier = 0;
        valide = lireEntier(analyseur, option, 0, 1000000000, entier) && valide;
        *champ = int(entier);
    }
    valide = lireReel(analyseur, rythme, parametres.rythme) && valide;
    valide = lireReel(analyseur, duree, parametres.duree) && valide;
    parametres.silencieux = analyseur.isSet(silencieux);
    if (!valide)
        return codeUsage;
    if (analyseur.isSet(hote) && !resoudre(analyseur.value(hote), parametres.cible))
        return codeUsage;

    Agent agent(parametres);
    if (!agent.preparer())
        return 1;
    std::signal(SIGINT, arreter);
    std::signal(SIGTERM, arreter);
    return agent.executer();
}
