// SPDX-License-Identifier: MIT
#include "NettoyageSauvegardes.h"

#include "Duree.h"

#include <QFile>

#include <sys/statvfs.h>

namespace {

QString pourcent(double valeur)
{
    return QString::number(valeur, 'f', valeur == qint64(valeur) ? 0 : 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString fichiers(qint64 nombre)
{
    return nombre == 1 ? QStringLiteral("1 fichier") : QStringLiteral("%1 fichiers").arg(nombre);
}

bool sousPlancher(const NettoyageSauvegardes::Espace &espace, double plancher)
{
    return espace.total > 0 && double(espace.libre) * 100.0 < plancher * double(espace.total);
}

} // namespace

NettoyageSauvegardes::Espace NettoyageSauvegardes::espaceReel(const QString &dossier)
{
    struct statvfs etat{};
    if (::statvfs(QFile::encodeName(dossier).constData(), &etat) != 0)
        return {};
    return {qint64(etat.f_bavail) * qint64(etat.f_frsize), qint64(etat.f_blocks) * qint64(etat.f_frsize)};
}

NettoyageSauvegardes::NettoyageSauvegardes(const QString &dossier, const Regles &regles, LectureEspace lectureEspace)
    : m_dossier(dossier), m_regles(regles), m_lectureEspace(std::move(lectureEspace))
{
}

QStringList NettoyageSauvegardes::nettoyer(const QVector<InventaireSauvegardes::Sauvegarde> &sauvegardes,
                                           const QSet<QString> &archivees, qint64 maintenant)
{
    QStringList lignes;
    // Oldest first, the newest left out.
    QVector<InventaireSauvegardes::Sauvegarde> candidates;
    for (int i = 0; i + 1 < sauvegardes.size(); ++i) {
        if (archivees.contains(sauvegardes.at(i).nom))
            candidates.append(sauvegardes.at(i));
    }
    int suivante = 0;
    qint64 nombre = 0;
    qint64 octets = 0;
    const auto supprimerSuivante = [&]() {
        const InventaireSauvegardes::Sauvegarde &sauvegarde = candidates.at(suivante++);
        QFile fichier(sauvegarde.chemin);
        if (fichier.remove()) {
            ++nombre;
            octets += sauvegarde.taille;
        } else if (fichier.exists()) {
            lignes.append(QStringLiteral("Suppression de %1 impossible : %2.").arg(sauvegarde.nom, fichier.errorString()));
        }
    };

    while (suivante < candidates.size() && candidates.at(suivante).instant < maintenant - m_regles.brut)
        supprimerSuivante();
    if (nombre > 0)
        lignes.append(QStringLiteral("Sauvegardes supprimées : %1, %2 octets, archivées et plus vieilles que %3.")
                          .arg(fichiers(nombre)).arg(octets).arg(Duree::texte(m_regles.brut)));

    nombre = 0;
    octets = 0;
    Espace espace = m_lectureEspace(m_dossier);
    while (sousPlancher(espace, m_regles.espaceLibre) && suivante < candidates.size()) {
        supprimerSuivante();
        espace = m_lectureEspace(m_dossier);
    }
    if (nombre > 0)
        lignes.append(QStringLiteral("Sauvegardes supprimées : %1, %2 octets, archivées, pour garder %3 % d'espace libre.")
                          .arg(fichiers(nombre)).arg(octets).arg(pourcent(m_regles.espaceLibre)));
    if (sousPlancher(espace, m_regles.espaceLibre)) {
        if (!m_plancherInatteignable)
            lignes.append(QStringLiteral("Espace libre sous %1 % (%2 % libres) : plus aucune sauvegarde archivée à supprimer.")
                              .arg(pourcent(m_regles.espaceLibre), pourcent(100.0 * double(espace.libre) / double(espace.total))));
        m_plancherInatteignable = true;
    } else {
        m_plancherInatteignable = false;
    }
    return lignes;
}
