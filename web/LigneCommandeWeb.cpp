// SPDX-License-Identifier: MIT
#include "LigneCommandeWeb.h"

#include <QCommandLineParser>

bool LigneCommandeWeb::lireAdresse(const QString &texte, QString &hote, quint16 &port)
{
    const int separateur = texte.lastIndexOf(QLatin1Char(':'));
    if (separateur <= 0)
        return false;
    hote = texte.left(separateur);
    if (hote.startsWith(QLatin1Char('[')) && hote.endsWith(QLatin1Char(']')))
        hote = hote.mid(1, hote.size() - 2);
    else if (hote.contains(QLatin1Char(':')))
        return false;
    bool ok = false;
    const uint valeur = texte.mid(separateur + 1).toUInt(&ok);
    if (!ok || valeur > 65535 || hote.isEmpty())
        return false;
    port = quint16(valeur);
    return true;
}

LigneCommandeWeb::Resultat LigneCommandeWeb::analyser(const QStringList &arguments, ParametresWeb &parametres,
                                                      QString &message)
{
    QCommandLineParser analyseur;
    analyseur.setApplicationDescription(QStringLiteral(
        "Tableau de bord du collecteur : client d'affichage de son port TCP, il sert une page web\n"
        "(la flotte en direct, chaque hyperviseur et son historique lu dans les sauvegardes), les\n"
        "données en JSON (/api/flotte, /api/historique) et les métriques Prometheus (/metrics).\n"
        "Unités des rapports : cpu, ram, disk en %, network en Mbit/s, cputemp et mbtemp en °C,\n"
        "time en secondes Unix ; VM : state (code libvirt 0 à 7), cpu en %, ram et maxram en Kio."));
    analyseur.addHelpOption();
    const QString collecteur = QStringLiteral("collecteur");
    const QString ecoute = QStringLiteral("ecoute");
    const QString fenetre = QStringLiteral("fenetre");
    const QString sauvegardes = QStringLiteral("sauvegardes");
    analyseur.addOptions({
        {collecteur, QStringLiteral("Port d'affichage du collecteur (127.0.0.1:56000 par défaut)."), QStringLiteral("HOTE:PORT")},
        {ecoute, QStringLiteral("Adresse et port HTTP (127.0.0.1:56080 par défaut : rien d'exposé au réseau)."),
         QStringLiteral("ADRESSE:PORT")},
        {fenetre, QStringLiteral("Minutes de valeurs récentes gardées par hyperviseur (15 par défaut)."), QStringLiteral("MINUTES")},
        {sauvegardes, QStringLiteral("Dossier des fichiers de sauvegarde du collecteur, lus sans jamais être écrits "
                                     "(dossier courant par défaut)."),
         QStringLiteral("DOSSIER")},
    });
    if (!analyseur.parse(arguments)) {
        message = analyseur.errorText();
        return Invalide;
    }
    if (analyseur.isSet(QStringLiteral("help"))) {
        message = analyseur.helpText();
        return Aide;
    }
    if (!analyseur.positionalArguments().isEmpty()) {
        message = QStringLiteral("Argument inattendu : %1").arg(analyseur.positionalArguments().constFirst());
        return Invalide;
    }
    if (analyseur.isSet(collecteur)
        && !lireAdresse(analyseur.value(collecteur), parametres.hoteCollecteur, parametres.portCollecteur)) {
        message = QStringLiteral("Valeur invalide pour --collecteur : « %1 » (HOTE:PORT attendu).").arg(analyseur.value(collecteur));
        return Invalide;
    }
    if (analyseur.isSet(ecoute)) {
        QString hote;
        const QHostAddress adresse(analyseur.value(ecoute).section(QLatin1Char(':'), 0, -2).remove(QLatin1Char('[')).remove(QLatin1Char(']')));
        if (!lireAdresse(analyseur.value(ecoute), hote, parametres.portEcoute) || adresse.isNull()) {
            message = QStringLiteral("Valeur invalide pour --ecoute : « %1 » (ADRESSE:PORT attendu, adresse IP).")
                          .arg(analyseur.value(ecoute));
            return Invalide;
        }
        parametres.ecoute = adresse;
    }
    if (analyseur.isSet(fenetre)) {
        bool ok = false;
        parametres.fenetreMinutes = analyseur.value(fenetre).toInt(&ok);
        if (!ok || parametres.fenetreMinutes < 1 || parametres.fenetreMinutes > 24 * 60) {
            message = QStringLiteral("Valeur invalide pour --fenetre : « %1 » (minutes, de 1 à 1440).").arg(analyseur.value(fenetre));
            return Invalide;
        }
    }
    if (analyseur.isSet(sauvegardes))
        parametres.sauvegardes = analyseur.value(sauvegardes);
    return Valide;
}
