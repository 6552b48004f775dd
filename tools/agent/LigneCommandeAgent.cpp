// SPDX-License-Identifier: MIT
#include "LigneCommandeAgent.h"

#include <QHostInfo>

#include <type_traits>
#include <utility>

namespace {

const char *const description =
    "Simule des agents d'hyperviseurs et envoie leurs rapports au collecteur, en datagrammes UDP :\n"
    "numéro de séquence sur 4 octets (gros-boutiste), puis le rapport JSON.\n"
    "Chaque hyperviseur simulé numérote ses datagrammes à partir de 1 ; vers la boucle locale,\n"
    "l'hyperviseur i envoie depuis l'adresse 127.0.0.i, pour que le collecteur les suive à part.\n"
    "S'arrête après --nombre datagrammes par hyperviseur ou après --duree secondes (le premier\n"
    "atteint), sinon sur Ctrl-C ; le débit obtenu est affiché chaque seconde et à la fin.\n"
    "Code de sortie : 0 si tout est envoyé, 1 sur échec d'envoi ou de liaison, 2 sur option invalide.";

} // namespace

AnalyseurOptions::Resultat LigneCommandeAgent::analyser(const QStringList &arguments)
{
    AnalyseurOptions options(QString::fromUtf8(description));
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
    const QString cle = QStringLiteral("cle");
    const QString nouvelleCle = QStringLiteral("nouvelle-cle");
    options.ajouter({
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
        {cle, QStringLiteral("Fichier des clés des hyperviseurs simulés, une ligne « NOM CLE » chacun : chaque "
                             "rapport est signé."), QStringLiteral("FICHIER")},
        {nouvelleCle, QStringLiteral("Écrit une nouvelle ligne « NOM CLE » par hyperviseur simulé et s'arrête.")},
    });
    const AnalyseurOptions::Resultat resultat = options.analyser(arguments);
    m_texte = options.texte();
    if (resultat != AnalyseurOptions::Executer)
        return resultat;

    // Every invalid value is said, not only the first.
    QStringList erreurs;
    const auto entier = [&options, &erreurs](const QString &option, qint64 minimum, qint64 maximum, auto &champ) {
        qint64 valeur = champ;
        if (options.entier(option, minimum, maximum, valeur))
            champ = static_cast<std::decay_t<decltype(champ)>>(valeur);
        else
            erreurs << options.texte();
    };
    const auto reel = [&options, &erreurs](const QString &option, double &champ) {
        if (!options.reel(option, 0, 1e9, champ))
            erreurs << options.texte();
    };
    ParametresAgent &p = m_parametres;
    entier(port, 1, 65535, p.port);
    entier(hyperviseurs, 1, 254, p.hyperviseurs);
    entier(vms, 0, 1000, p.vms);
    entier(nombre, 0, Q_INT64_C(1) << 53, p.nombre);
    for (const auto &[option, champ] : {std::pair<QString, int *>{trou, &p.trou},
                                        {repetition, &p.repetition},
                                        {inversion, &p.inversion}})
        entier(option, 0, 1000000000, *champ);
    reel(rythme, p.rythme);
    reel(duree, p.duree);
    p.silencieux = options.estDonnee(silencieux);
    if (!erreurs.isEmpty()) {
        m_texte = erreurs.join(QLatin1Char('\n'));
        return AnalyseurOptions::Erreur;
    }
    if (options.estDonnee(nouvelleCle)) {
        QStringList lignes;
        for (int i = 0; i < p.hyperviseurs; ++i)
            lignes.append(FichierCles::nouvelleLigne(HyperviseurSimule::nomDe(i)));
        m_texte = lignes.join(QLatin1Char('\n'));
        return AnalyseurOptions::Aide;
    }
    if (options.estDonnee(cle)) {
        QString raison;
        if (!FichierCles::lire(options.valeur(cle), p.cles, raison)) {
            m_texte = QStringLiteral("Clé illisible : %1.").arg(raison);
            return AnalyseurOptions::Erreur;
        }
    }
    if (options.estDonnee(hote) && !resoudre(options.valeur(hote)))
        return AnalyseurOptions::Erreur;
    return AnalyseurOptions::Executer;
}

bool LigneCommandeAgent::resoudre(const QString &hote)
{
    QHostAddress &adresse = m_parametres.cible;
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
    m_texte = QStringLiteral("Hôte introuvable : %1 (%2)").arg(hote, info.errorString());
    return false;
}
