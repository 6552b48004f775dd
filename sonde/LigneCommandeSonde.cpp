// SPDX-License-Identifier: MIT
#include "LigneCommandeSonde.h"

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

AnalyseurOptions::Resultat LigneCommandeSonde::analyser(const QStringList &arguments)
{
    AnalyseurOptions options(QString::fromUtf8(description));
    const QString intervalle = QStringLiteral("intervalle");
    const QString collecteur = QStringLiteral("collecteur");
    const QString nom = QStringLiteral("nom");
    const QString uneFois = QStringLiteral("une-fois");
    const QString racine = QStringLiteral("racine");
    const QString disque = QStringLiteral("disque");
    const QString libvirt = QStringLiteral("libvirt");
    const QString cle = QStringLiteral("cle");
    const QString nouvelleCle = QStringLiteral("nouvelle-cle");
    options.ajouter({
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
        {cle, QStringLiteral("Fichier de la clé de cet hôte, une ligne « NOM CLE » : chaque rapport est signé, pour "
                             "un collecteur qui exige des rapports signés (--cles)."), QStringLiteral("FICHIER")},
        {nouvelleCle, QStringLiteral("Écrit une nouvelle ligne « NOM CLE » pour cet hôte, à mettre dans son --cle et "
                                     "dans le --cles du collecteur, et s'arrête.")},
    });

    const AnalyseurOptions::Resultat resultat = options.analyser(arguments);
    m_texte = options.texte();
    if (resultat != AnalyseurOptions::Executer)
        return resultat;

    const auto erreur = [&options, this] {
        m_texte = options.texte();
        return AnalyseurOptions::Erreur;
    };
    ParametresSonde &p = m_parametres;
    if (!options.reel(intervalle, 0.1, 86400, p.intervalle))
        return erreur();
    for (const QString &valeur : options.valeurs(collecteur)) {
        AdresseCollecteur adresse;
        if (!AnalyseurOptions::lireAdresse(valeur, adresse.hote, adresse.port)) {
            options.refuser(collecteur, valeur, QStringLiteral("HOTE:PORT attendu"));
            return erreur();
        }
        p.collecteurs.append(adresse);
    }
    if (p.collecteurs.isEmpty())
        p.collecteurs.append({QStringLiteral("127.0.0.1"), 55000});
    p.nom = options.estDonnee(nom) ? options.valeur(nom) : QSysInfo::machineHostName();
    if (p.nom.isEmpty()) {
        m_texte = QStringLiteral("Nom d'hôte vide : le donner avec --nom.");
        return AnalyseurOptions::Erreur;
    }
    if (options.estDonnee(nouvelleCle)) {
        m_texte = FichierCles::nouvelleLigne(p.nom);
        return AnalyseurOptions::Aide;
    }
    if (options.estDonnee(cle)) {
        FichierCles::Cles cles;
        QString raison;
        p.fichierCle = options.valeur(cle);
        if (!FichierCles::lire(p.fichierCle, cles, raison)
            || !SignataireRapports::choisir(cles, p.nom, p.signataire, raison)) {
            m_texte = QStringLiteral("Clé illisible : %1.").arg(raison);
            return AnalyseurOptions::Erreur;
        }
    }
    p.uneFois = options.estDonnee(uneFois);
    if (options.estDonnee(racine))
        p.racine = options.valeur(racine);
    p.disque = options.valeur(disque);
    if (options.estDonnee(libvirt))
        p.libvirt = options.valeur(libvirt);
    return AnalyseurOptions::Executer;
}
