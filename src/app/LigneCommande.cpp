// SPDX-License-Identifier: MIT
#include "LigneCommande.h"

#include "AfficheurSocket.h"
#include "AnalyseurOptions.h"
#include "ParametresCollecteur.h"
#include "Taille.h"
#include "VerificateurSignatures.h"

#include <QRegularExpression>

#include <unistd.h>

quint16 LigneCommande::portUdp(const QStringList &arguments)
{
    const QStringList options = arguments.filter(QStringLiteral("--port="), Qt::CaseSensitive);
    if (options.isEmpty())
        return portParDefaut;

    static const QRegularExpression chiffres(QStringLiteral("([0-9]{1,5})"));
    const QRegularExpressionMatch correspondance = chiffres.match(options.first());
    return correspondance.captured(1).toUShort(nullptr, 10);
}

int LigneCommande::journal(const QStringList &arguments)
{
    const QString option = QStringLiteral("--journal=");
    int resultat = 1;
    for (const QString &argument : arguments) {
        if (argument.startsWith(option))
            resultat = argument.mid(option.size()) == QLatin1String("aucun") ? 0 : -1;
    }
    return resultat;
}

int LigneCommande::clientsMax(const QStringList &arguments, int parDefaut)
{
    const QString option = QStringLiteral("--clients-max=");
    int resultat = parDefaut;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(option))
            continue;
        bool ok = false;
        const int valeur = argument.mid(option.size()).toInt(&ok, 10);
        resultat = ok && valeur >= 1 && valeur <= 65535 ? valeur : -1;
    }
    return resultat;
}

qint64 LigneCommande::memoireMax(const QStringList &arguments, qint64 parDefaut)
{
    const QString option = QStringLiteral("--memoire-max=");
    qint64 resultat = parDefaut;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(option))
            continue;
        qint64 octets = 0;
        resultat = Taille::lire(argument.mid(option.size()), octets) && octets >= memoireMaxMinimum ? octets : -1;
    }
    return resultat;
}

qint64 LigneCommande::memoireMaxParDefaut()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long taillePage = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || taillePage <= 0)
        return qint64(1) << 30;
    return qMax(memoireMaxMinimum, qint64(pages) * taillePage / 4);
}

namespace {

// The last value given for `option`, as the other options take it.
QString valeur(const QStringList &arguments, const QString &option, bool &donnee)
{
    QString resultat;
    donnee = false;
    for (const QString &argument : arguments) {
        if (argument.startsWith(option)) {
            resultat = argument.mid(option.size());
            donnee = true;
        }
    }
    return resultat;
}

} // namespace

QString LigneCommande::cles(const QStringList &arguments)
{
    bool donnee = false;
    return valeur(arguments, QStringLiteral("--cles="), donnee);
}

qint64 LigneCommande::deriveMax(const QStringList &arguments, qint64 parDefaut)
{
    bool donnee = false;
    const QString texte = valeur(arguments, QStringLiteral("--derive-max="), donnee);
    if (!donnee)
        return parDefaut;
    bool ok = false;
    const qint64 secondes = texte.toLongLong(&ok, 10);
    return ok && secondes >= 1 && secondes <= 86400 ? secondes : -1;
}

bool LigneCommande::afficheurs(const QStringList &arguments, QList<QPair<QHostAddress, int>> &reseaux)
{
    bool donnee = false;
    const QString texte = valeur(arguments, QStringLiteral("--afficheurs="), donnee);
    reseaux.clear();
    if (!donnee)
        return true;
    for (const QString &morceau : texte.split(QLatin1Char(','))) {
        // A bare address is a network of one.
        const QString reseau = morceau.trimmed();
        QPair<QHostAddress, int> lu = QHostAddress::parseSubnet(reseau);
        if (!reseau.contains(QLatin1Char('/'))) {
            const QHostAddress adresse(reseau);
            lu = qMakePair(adresse, adresse.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
        }
        if (lu.first.isNull() || lu.second < 0)
            return false;
        reseaux.append(lu);
    }
    return !reseaux.isEmpty();
}

bool LigneCommande::lire(const QStringList &arguments, ParametresCollecteur &parametres, QString &erreur)
{
    parametres.clientsMax = clientsMax(arguments, parametres.clientsMax);
    if (parametres.clientsMax < 0) {
        erreur = QStringLiteral("Valeur invalide pour --clients-max (un nombre de 1 à 65535 est attendu).");
        return false;
    }
    const int avecJournal = journal(arguments);
    if (avecJournal < 0) {
        erreur = QStringLiteral("Valeur invalide pour --journal (seule la valeur aucun est reconnue).");
        return false;
    }
    parametres.journal = avecJournal == 1;
    parametres.memoireMax = memoireMax(arguments, parametres.memoireMax);
    if (parametres.memoireMax < 0) {
        erreur = QStringLiteral("Valeur invalide pour --memoire-max (une taille d'au moins 1M est attendue : "
                                "536870912, 512M, 2G, 1.5G...).");
        return false;
    }
    parametres.portUdp = portUdp(arguments);
    parametres.cles = cles(arguments);
    parametres.deriveMax = deriveMax(arguments, parametres.deriveMax);
    if (parametres.deriveMax < 0) {
        erreur = QStringLiteral("Valeur invalide pour --derive-max (un nombre de secondes de 1 à 86400 est attendu).");
        return false;
    }
    if (!afficheurs(arguments, parametres.afficheurs)) {
        erreur = QStringLiteral("Valeur invalide pour --afficheurs (des réseaux séparés par des virgules sont "
                                "attendus : 127.0.0.1/32,10.0.0.0/8,::1/128).");
        return false;
    }
    return true;
}

bool LigneCommande::aideDemandee(const QStringList &arguments)
{
    return arguments.mid(1).contains(QStringLiteral("--help")) || arguments.mid(1).contains(QStringLiteral("-h"));
}

QString LigneCommande::aide()
{
    AnalyseurOptions options(QStringLiteral(
        "Collecteur de rapports d'hyperviseurs : reçoit les datagrammes UDP des agents, garde chaque\n"
        "rapport en mémoire (SQLite) et dans un journal, le déplace chaque heure et à l'arrêt dans un\n"
        "fichier collecteurJJ-MM-AAAA_hh-mm-ss.db du dossier courant, et le relaie aux clients\n"
        "d'affichage connectés en TCP sur le port 56000. Chaque valeur suit son option après un signe\n"
        "égal (--port=55001) ; les autres arguments sont ignorés. SIGINT ou SIGTERM l'arrête après une\n"
        "dernière sauvegarde. Code de sortie : 0 après un arrêt propre, 1 si le démarrage ou la\n"
        "dernière sauvegarde échoue, 2 sur option invalide."));
    options.ajouter({
        {QStringLiteral("port"), QStringLiteral("Port UDP des rapports des agents (%1 par défaut).").arg(portParDefaut),
         QStringLiteral("N")},
        {QStringLiteral("clients-max"),
         QStringLiteral("Nombre de clients d'affichage connectés à la fois, de 1 à 65535 (%1 par défaut).")
             .arg(AfficheurSocket::clientsMaxParDefaut),
         QStringLiteral("N")},
        {QStringLiteral("journal"),
         QStringLiteral("« aucun » : pas de journal ; un arrêt brutal perd alors les rapports reçus depuis la "
                        "dernière sauvegarde."),
         QStringLiteral("aucun")},
        {QStringLiteral("memoire-max"),
         QStringLiteral("Mémoire que les rapports gardés peuvent occuper : 512M, 2G, 1.5G ou un nombre d'octets, "
                        "au moins 1M (par défaut le quart de la mémoire de la machine, ici %1). Atteinte, elle "
                        "déclenche une sauvegarde ; si la sauvegarde échoue, les rapports les plus anciens sont "
                        "supprimés.")
             .arg(Taille::texte(memoireMaxParDefaut())),
         QStringLiteral("TAILLE")},
        {QStringLiteral("cles"),
         QStringLiteral("Fichier des clés des agents, une ligne « NOM CLE » par hôte (deux au plus) : seuls les "
                        "rapports signés par une clé de l'hôte qu'ils nomment sont reçus (sans cette option, tous "
                        "les rapports le sont). Refusé s'il est lisible par d'autres utilisateurs."),
         QStringLiteral("FICHIER")},
        {QStringLiteral("derive-max"),
         QStringLiteral("Écart permis, en secondes, entre l'heure d'un rapport signé et celle du collecteur "
                        "(%1 par défaut).")
             .arg(VerificateurSignatures::deriveParDefaut),
         QStringLiteral("S")},
        {QStringLiteral("afficheurs"),
         QStringLiteral("Réseaux d'où les clients d'affichage peuvent se connecter, séparés par des virgules "
                        "(127.0.0.1/32,10.0.0.0/8,::1/128) ; les autres sont fermés aussitôt (par défaut, "
                        "toute adresse)."),
         QStringLiteral("RÉSEAUX")},
    });
    return options.aide();
}
