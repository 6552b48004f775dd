// SPDX-License-Identifier: MIT
#include "LigneCommandeWeb.h"

#include "MessagesAlertes.h"

#include <QUrl>

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

bool urlHttp(const QString &valeur)
{
    const QUrl url(valeur, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty();
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
    const QString etat = QStringLiteral("etat");
    const QString alertmanager = QStringLiteral("alertmanager");
    const QString webhook = QStringLiteral("webhook");
    const QString courriel = QStringLiteral("courriel");
    const QString sendmail = QStringLiteral("sendmail");
    const QString urlExterne = QStringLiteral("url-externe");
    const QString tlsCertificat = QStringLiteral("tls-certificat");
    const QString tlsCle = QStringLiteral("tls-cle");
    const QString utilisateurs = QStringLiteral("utilisateurs");
    const QString metriquesLibres = QStringLiteral("metriques-libres");
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
        {etat, QStringLiteral("Dossier où garder les alertes en cours, ce qui en a été notifié et 30 jours d'historique, "
                              "pour qu'un redémarrage ne les notifie pas de nouveau ni n'oublie leur fin (rien de gardé "
                              "par défaut)."),
         QStringLiteral("DOSSIER")},
        {alertmanager, QStringLiteral("Adresse d'un Alertmanager (http://hôte:9093), qui reçoit les alertes par son API "
                                      "v2 ; répétable."),
         QStringLiteral("URL")},
        {webhook, QStringLiteral("Adresse à laquelle poster chaque changement d'alerte, au format du webhook "
                                 "d'Alertmanager (version 4) ; répétable."),
         QStringLiteral("URL")},
        {courriel, QStringLiteral("Adresse à laquelle écrire chaque changement d'alerte, par sendmail -t ; répétable."),
         QStringLiteral("ADRESSE")},
        {sendmail, QStringLiteral("Programme d'envoi des courriels (/usr/sbin/sendmail par défaut)."), QStringLiteral("CHEMIN")},
        {urlExterne, QStringLiteral("Adresse du tableau de bord donnée dans les notifications (celle d'écoute par "
                                    "défaut)."),
         QStringLiteral("URL")},
        {tlsCertificat, QStringLiteral("Certificat (PEM, chaîne comprise) pour servir en HTTPS ; avec --tls-cle."),
         QStringLiteral("FICHIER")},
        {tlsCle, QStringLiteral("Clé privée (PEM) du certificat ; avec --tls-certificat."), QStringLiteral("FICHIER")},
        {utilisateurs, QStringLiteral("Fichier de lignes nom:empreinte (crypt : yescrypt $y$ ou bcrypt $2b$) : chaque "
                                      "requête doit alors s'identifier (HTTP Basic) ; relu sur SIGHUP."),
         QStringLiteral("FICHIER")},
        {metriquesLibres, QStringLiteral("Avec --utilisateurs, laisse /metrics sans identification.")},
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
        parametres.alertes.regles = options.valeur(regles);
    if (options.estDonnee(etat))
        parametres.alertes.etat = options.valeur(etat);
    for (const QString &option : {alertmanager, webhook}) {
        for (const QString &url : options.valeurs(option)) {
            if (!urlHttp(url)) {
                options.refuser(option, url, QStringLiteral("adresse http:// ou https:// attendue"));
                message = options.texte();
                return AnalyseurOptions::Erreur;
            }
        }
    }
    parametres.alertes.alertmanagers = options.valeurs(alertmanager);
    parametres.alertes.webhooks = options.valeurs(webhook);
    for (const QString &adresse : options.valeurs(courriel)) {
        if (!MessagesAlertes::adresseValide(adresse)) {
            options.refuser(courriel, adresse, QStringLiteral("une adresse nom@domaine attendue"));
            message = options.texte();
            return AnalyseurOptions::Erreur;
        }
    }
    parametres.alertes.courriels = options.valeurs(courriel);
    if (options.estDonnee(sendmail))
        parametres.alertes.sendmail = options.valeur(sendmail);
    if (options.estDonnee(urlExterne)) {
        if (!urlHttp(options.valeur(urlExterne)))
            return refuser(urlExterne, QStringLiteral("adresse http:// ou https:// attendue"));
        parametres.alertes.urlExterne = options.valeur(urlExterne);
        while (parametres.alertes.urlExterne.endsWith(QLatin1Char('/')))
            parametres.alertes.urlExterne.chop(1);
    }
    if (options.estDonnee(tlsCertificat) != options.estDonnee(tlsCle)) {
        message = QStringLiteral("Options --tls-certificat et --tls-cle à donner ensemble (seule --%1 est donnée).")
                      .arg(options.estDonnee(tlsCertificat) ? tlsCertificat : tlsCle);
        return AnalyseurOptions::Erreur;
    }
    for (const QString &option : {tlsCertificat, tlsCle, utilisateurs}) {
        if (options.estDonnee(option) && options.valeur(option).isEmpty())
            return refuser(option, QStringLiteral("chemin de fichier attendu"));
    }
    parametres.tlsCertificat = options.valeur(tlsCertificat);
    parametres.tlsCle = options.valeur(tlsCle);
    parametres.utilisateurs = options.valeur(utilisateurs);
    parametres.metriquesLibres = options.estDonnee(metriquesLibres);
    return AnalyseurOptions::Executer;
}
