// SPDX-License-Identifier: MIT
#include "LigneCommandeSonde.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QSysInfo>

namespace {

const char *const description =
    "Agent d'hyperviseur : mesure cet hôte et ses machines virtuelles (libvirt, en lecture seule)\n"
    "et envoie un rapport par intervalle à chaque collecteur, en datagramme UDP : numéro de\n"
    "séquence sur 4 octets (gros-boutiste, 0 pour le premier datagramme après le démarrage),\n"
    "puis le rapport JSON. Un rapport qui ne tient pas dans un datagramme (65 507 octets) est\n"
    "réparti en plusieurs rapports complets, de même nom et de même heure, qui se partagent les VM.\n"
    "\n"
    "Rapport, unités fixes (une mesure dont la source manque sur l'hôte est omise, jamais 0) :\n"
    "  name     nom de l'hôte\n"
    "  time     heure Unix de la mesure, en secondes (UTC)\n"
    "  cpu      % de tous les processeurs occupés sur l'intervalle (/proc/stat, temps des invités\n"
    "           compté une fois, iowait compté libre)\n"
    "  ram      % de mémoire utilisée, 100 × (1 − MemAvailable / MemTotal) (/proc/meminfo)\n"
    "  disk     % d'espace utilisé, comme df, du système de fichiers de --disque\n"
    "  network  Mbit/s reçus plus envoyés sur les interfaces physiques (/proc/net/dev)\n"
    "  cputemp  °C du boîtier de processeur le plus chaud (coretemp, k10temp, zenpower, x86_pkg_temp)\n"
    "  mbtemp   °C de la carte mère (zone thermique acpitz, sinon SYSTIN ou temp1 de nct67xx, it87)\n"
    "  vms      une entrée par domaine libvirt : name, uuid, state (code d'état libvirt, 0 à 7),\n"
    "           cpu (% de ses propres vCPU sur l'intervalle), ram et maxram (Kio),\n"
    "           network (Mbit/s reçus plus envoyés sur ses interfaces)\n"
    "\n"
    "Messages en français sur la sortie d'erreur, une ligne quand une partie tombe en panne ou\n"
    "revient. Code de sortie : 0, ou 2 sur option invalide.";

} // namespace

bool LigneCommandeSonde::lireAdresse(const QString &valeur, AdresseCollecteur &adresse)
{
    const int deuxPoints = valeur.lastIndexOf(QLatin1Char(':'));
    if (deuxPoints <= 0)
        return false;
    QString hote = valeur.left(deuxPoints);
    if (hote.startsWith(QLatin1Char('[')) && hote.endsWith(QLatin1Char(']')))
        hote = hote.mid(1, hote.size() - 2);
    else if (hote.contains(QLatin1Char(':')))
        return false;
    bool ok = false;
    const uint port = valeur.mid(deuxPoints + 1).toUInt(&ok, 10);
    if (!ok || port == 0 || port > 65535 || hote.isEmpty())
        return false;
    adresse.hote = hote;
    adresse.port = quint16(port);
    return true;
}

LigneCommandeSonde::Resultat LigneCommandeSonde::analyser(const QStringList &arguments)
{
    QCommandLineParser analyseur;
    analyseur.setApplicationDescription(QString::fromUtf8(description));
    analyseur.addHelpOption();
    const QString intervalle = QStringLiteral("intervalle");
    const QString collecteur = QStringLiteral("collecteur");
    const QString nom = QStringLiteral("nom");
    const QString uneFois = QStringLiteral("une-fois");
    const QString racine = QStringLiteral("racine");
    const QString disque = QStringLiteral("disque");
    const QString libvirt = QStringLiteral("libvirt");
    analyseur.addOptions({
        {intervalle, QStringLiteral("Secondes entre deux rapports (10 par défaut, 0.1 au moins)."), QStringLiteral("S")},
        {collecteur, QStringLiteral("Collecteur destinataire, à répéter pour plusieurs ([::1]:N en IPv6 ; "
                                    "127.0.0.1:55000 par défaut). Un nom d'hôte introuvable est recherché "
                                    "de nouveau à chaque intervalle."), QStringLiteral("HOTE:PORT")},
        {nom, QStringLiteral("Nom de l'hôte dans les rapports (par défaut, le nom du système)."), QStringLiteral("NOM")},
        {uneFois, QStringLiteral("Mesure sur un intervalle, écrit le rapport sur la sortie standard et s'arrête "
                                 "(rien n'est envoyé).")},
        {racine, QStringLiteral("Lit /proc, /sys et les fichiers sous ce dossier plutôt que sous / "
                                "(essais, conteneurs)."), QStringLiteral("DOSSIER")},
        {disque, QStringLiteral("Chemin dont le système de fichiers donne disk (par défaut /var/lib/libvirt/images "
                                "s'il existe, sinon /)."), QStringLiteral("CHEMIN")},
        {libvirt, QStringLiteral("URI de connexion libvirt, ouverte en lecture seule (qemu:///system par défaut ; "
                                 "aucun : hôte sans VM)."), QStringLiteral("URI")},
    });

    if (!analyseur.parse(arguments)) {
        m_texte = analyseur.errorText();
        return Erreur;
    }
    if (analyseur.isSet(QStringLiteral("help"))) {
        m_texte = analyseur.helpText();
        return Aide;
    }
    if (!analyseur.positionalArguments().isEmpty()) {
        m_texte = QStringLiteral("Argument inattendu : %1").arg(analyseur.positionalArguments().constFirst());
        return Erreur;
    }

    ParametresSonde &p = m_parametres;
    if (analyseur.isSet(intervalle)) {
        bool ok = false;
        p.intervalle = analyseur.value(intervalle).toDouble(&ok);
        if (!ok || !(p.intervalle >= 0.1) || p.intervalle > 86400) {
            m_texte = QStringLiteral("Valeur invalide pour --intervalle : « %1 » (secondes, de 0.1 à 86400).")
                          .arg(analyseur.value(intervalle));
            return Erreur;
        }
    }
    for (const QString &valeur : analyseur.values(collecteur)) {
        AdresseCollecteur adresse;
        if (!lireAdresse(valeur, adresse)) {
            m_texte = QStringLiteral("Valeur invalide pour --collecteur : « %1 » (HOTE:PORT attendu).").arg(valeur);
            return Erreur;
        }
        p.collecteurs.append(adresse);
    }
    if (p.collecteurs.isEmpty())
        p.collecteurs.append({QStringLiteral("127.0.0.1"), 55000});
    p.nom = analyseur.isSet(nom) ? analyseur.value(nom) : QSysInfo::machineHostName();
    if (p.nom.isEmpty()) {
        m_texte = QStringLiteral("Nom d'hôte vide : le donner avec --nom.");
        return Erreur;
    }
    p.uneFois = analyseur.isSet(uneFois);
    if (analyseur.isSet(racine))
        p.racine = analyseur.value(racine);
    p.disque = analyseur.value(disque);
    if (analyseur.isSet(libvirt))
        p.libvirt = analyseur.value(libvirt);
    return Executer;
}
