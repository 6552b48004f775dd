// SPDX-License-Identifier: MIT
#include "LigneCommandeArchive.h"

#include "AnalyseurOptions.h"
#include "Duree.h"
#include "FichierArchive.h"

LigneCommandeArchive::Resultat LigneCommandeArchive::analyser(const QStringList &arguments,
                                                              ParametresArchive &parametres, QString &message)
{
    AnalyseurOptions options(QStringLiteral(
        "Archive à long terme du collecteur : verse chaque fichier de sauvegarde horaire, une fois\n"
        "complet, dans une archive RRDtool (moyenne et maximum par 5 min sur 8 jours, par heure sur\n"
        "366 jours, par jour sur 5 ans, un fichier par hyperviseur et par VM), puis supprime les\n"
        "sauvegardes archivées trop vieilles ou quand l'espace libre manque, les plus vieilles\n"
        "d'abord, jamais la plus récente ni une non archivée. Unités : cpu, ram, disk en %,\n"
        "network en Mbit/s, cputemp et mbtemp en °C ; VM : cpu en %, ram et maxram en Kio."));
    const QString sauvegardes = QStringLiteral("sauvegardes");
    const QString archive = QStringLiteral("archive");
    const QString brut = QStringLiteral("brut");
    const QString espaceLibre = QStringLiteral("espace-libre");
    const QString uneFois = QStringLiteral("une-fois");
    options.ajouter({
        {sauvegardes, QStringLiteral("Dossier des fichiers de sauvegarde du collecteur (dossier courant par défaut)."),
         QStringLiteral("DOSSIER")},
        {archive, QStringLiteral("Dossier de l'archive (<sauvegardes>/archive par défaut)."), QStringLiteral("DOSSIER")},
        {brut, QStringLiteral("Âge au-delà duquel une sauvegarde archivée est supprimée, d'après l'heure de son nom : "
                              "8j, 36h, 90m, 600s (8j par défaut)."),
         QStringLiteral("DURÉE")},
        {espaceLibre, QStringLiteral("Part du disque des sauvegardes à garder libre : sous ce seuil, les sauvegardes "
                                     "archivées sont supprimées, les plus vieilles d'abord (10 par défaut)."),
         QStringLiteral("N%")},
        {uneFois, QStringLiteral("Archive ce qui est là, applique les règles et s'arrête (pour cron).")},
    });
    switch (options.analyser(arguments)) {
    case AnalyseurOptions::Aide:
        message = options.texte();
        return Aide;
    case AnalyseurOptions::Erreur:
        message = options.texte();
        return Invalide;
    case AnalyseurOptions::Executer:
        break;
    }
    if (options.estDonnee(brut) && !Duree::lire(options.valeur(brut), parametres.regles.brut)) {
        options.refuser(brut, options.valeur(brut), QStringLiteral("durée attendue : 8j, 36h, 90m, 600s"));
        message = options.texte();
        return Invalide;
    }
    if (options.estDonnee(espaceLibre)) {
        QString texte = options.valeur(espaceLibre);
        if (texte.endsWith(QLatin1Char('%')))
            texte.chop(1);
        bool ok = false;
        const double valeur = texte.toDouble(&ok);
        if (!ok || !(valeur >= 0) || !(valeur < 100)) {
            options.refuser(espaceLibre, options.valeur(espaceLibre), QStringLiteral("pourcentage de 0 à 99 attendu"));
            message = options.texte();
            return Invalide;
        }
        parametres.regles.espaceLibre = valeur;
    }
    if (options.estDonnee(sauvegardes))
        parametres.sauvegardes = options.valeur(sauvegardes);
    parametres.archive =
        options.estDonnee(archive) ? options.valeur(archive) : FichierArchive::dossierParDefaut(parametres.sauvegardes);
    parametres.uneFois = options.estDonnee(uneFois);
    return Valide;
}
