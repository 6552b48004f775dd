// SPDX-License-Identifier: MIT
#include "LigneCommandeWeb.h"

namespace {

// Port 0 leaves the choice of a free port to the system: the start-up line
// gives the one it chose.
bool lireEcoute(const QString &valeur, QHostAddress &adresse, quint16 &port)
{
    const int deuxPoints = valeur.lastIndexOf(QLatin1Char(':'));
    const bool portLibre = deuxPoints > 0 && valeur.mid(deuxPoints + 1) == QLatin1String("0");
    QString hote;
    if (!AnalyseurOptions::lireAdresse(portLibre ? valeur.left(deuxPoints) + QLatin1String(":1") : valeur, hote, port))
        return false;
    adresse = QHostAddress(hote);
    if (portLibre)
        port = 0;
    return !adresse.isNull();
}

} // namespace

AnalyseurOptions::Resultat LigneCommandeWeb::analyser(const QStringList &arguments, ParametresWeb &parametres,
                                                      QString &message)
{
    AnalyseurOptions options(QStringLiteral(
        "Tableau de bord du collecteur : client d'affichage de son port TCP, il sert une page web\n"
        "(la flotte en direct, chaque hyperviseur et son historique lu dans les sauvegardes, l'archive\n"
        "et le journal du collecteur), les données en JSON (/api/flotte, /api/historique, aussi en\n"
        "CSV) et les métriques Prometheus (/metrics).\n"
        "Unités des rapports : cpu, ram, disk en %, network en Mbit/s, cputemp et mbtemp en °C,\n"
        "time en secondes Unix ; VM : state (code libvirt 0 à 7), cpu en %, ram et maxram en Kio."));
    const QString collecteur = QStringLiteral("collecteur");
    const QString ecoute = QStringLiteral("ecoute");
    const QString fenetre = QStringLiteral("fenetre");
    const QString sauvegardes = QStringLiteral("sauvegardes");
    const QString archive = QStringLiteral("archive");
    const QString regles = QStringLiteral("regles");
    options.ajouter({
        {collecteur, QStringLiteral("Port d'affichage du collecteur (127.0.0.1:56000 par défaut)."), QStringLiteral("HOTE:PORT")},
        {ecoute, QStringLiteral("Adresse et port HTTP (127.0.0.1:56080 par défaut : rien d'exposé au réseau)."),
         QStringLiteral("ADRESSE:PORT")},
        {fenetre, QStringLiteral("Minutes de valeurs récentes gardées par hyperviseur (15 par défaut)."), QStringLiteral("MINUTES")},
        {sauvegardes, QStringLiteral("Dossier des fichiers de sauvegarde du collecteur, lus sans jamais être écrits "
                                     "(dossier courant par défaut)."),
         QStringLiteral("DOSSIER")},
        {archive, QStringLiteral("Dossier de l'archive de collecteur-archive, lue sans jamais être écrite, pour "
                                 "l'historique au-delà des sauvegardes (<sauvegardes>/archive par défaut)."),
         QStringLiteral("DOSSIER")},
        {regles, QStringLiteral("Fichier des règles d'alerte, relu sur SIGHUP (règles fournies seules par défaut)."),
         QStringLiteral("FICHIER")},
    });

    const AnalyseurOptions::Resultat resultat = options.analyser(arguments);
    message = options.texte();
    if (resultat != AnalyseurOptions::Executer)
        return resultat;
    const auto refuser = [&](const QString &option, const QString &attendu) {
        options.refuser(option, options.valeur(option), attendu);
        message = options.texte();
        return AnalyseurOptions::Erreur;
    };
    if (options.estDonnee(collecteur)
        && !AnalyseurOptions::lireAdresse(options.valeur(collecteur), parametres.hoteCollecteur, parametres.portCollecteur))
        return refuser(collecteur, QStringLiteral("HOTE:PORT attendu"));
    if (options.estDonnee(ecoute) && !lireEcoute(options.valeur(ecoute), parametres.ecoute, parametres.portEcoute))
        return refuser(ecoute, QStringLiteral("ADRESSE:PORT attendu, adresse IP"));
    qint64 minutes = parametres.fenetreMinutes;
    if (!options.entier(fenetre, 1, 24 * 60, minutes)) {
        message = options.texte();
        return AnalyseurOptions::Erreur;
    }
    parametres.fenetreMinutes = int(minutes);
    if (options.estDonnee(sauvegardes))
        parametres.sauvegardes = options.valeur(sauvegardes);
    if (options.estDonnee(archive))
        parametres.archive = options.valeur(archive);
    if (options.estDonnee(regles))
        parametres.regles = options.valeur(regles);
    return AnalyseurOptions::Executer;
}
