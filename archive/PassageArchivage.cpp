// SPDX-License-Identifier: MIT
#include "PassageArchivage.h"

#include "FichierSauvegarde.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

constexpr qint64 intervalleEnregistrement = 5000; // ms

QString nombre(qint64 n, const QString &singulier, const QString &pluriel)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? singulier : pluriel);
}

QString resume(const QString &nom, const ArchivageSauvegarde::Bilan &bilan)
{
    QString ligne = QStringLiteral("Sauvegarde archivée : %1 (%2, %3 VM, %4")
                        .arg(nom, nombre(bilan.hyperviseurs, QStringLiteral("hyperviseur"), QStringLiteral("hyperviseurs")))
                        .arg(bilan.vms)
                        .arg(nombre(bilan.mesures, QStringLiteral("mesure"), QStringLiteral("mesures")));
    if (bilan.ignorees > 0)
        ligne += QStringLiteral(", %1 déjà archivées ou plus anciennes, ignorées").arg(bilan.ignorees);
    return ligne + QStringLiteral(").");
}

} // namespace

PassageArchivage::PassageArchivage(const QString &sauvegardes, const QString &archive,
                                   const NettoyageSauvegardes::Regles &regles,
                                   NettoyageSauvegardes::LectureEspace lectureEspace, const std::atomic_bool *arret,
                                   Ecriture ecriture)
    : m_sauvegardes(sauvegardes),
      m_archive(archive),
      m_arret(arret),
      m_ecriture(std::move(ecriture)),
      m_archivage(archive, arret),
      m_etat(archive),
      m_nettoyage(sauvegardes, regles, std::move(lectureEspace))
{
}

bool PassageArchivage::preparer()
{
    if (!QDir().mkpath(m_archive)) {
        m_ecriture(QStringLiteral("Dossier d'archive %1 impossible à créer.").arg(m_archive));
        return false;
    }
    if (!m_etat.charger()) {
        m_ecriture(QStringLiteral("Lecture de %1 impossible : %2.").arg(m_etat.chemin(), m_etat.erreur()));
        return false;
    }
    return true;
}

bool PassageArchivage::executer(qint64 maintenant)
{
    bool reussi = true;
    const QVector<InventaireSauvegardes::Sauvegarde> avant = InventaireSauvegardes::lister(m_sauvegardes);
    QSet<QString> presentes;
    for (const InventaireSauvegardes::Sauvegarde &sauvegarde : avant)
        presentes.insert(sauvegarde.nom);
    // Written at most every few seconds while files are rolled: after a
    // crash, a file rolled but not listed is rolled again, its points all
    // refused by RRDtool, and counted so.
    QElapsedTimer depuisEnregistrement;
    depuisEnregistrement.start();
    bool aEnregistrer = false;
    const auto enregistrer = [&]() {
        aEnregistrer = false;
        depuisEnregistrement.restart();
        if (m_etat.enregistrer(presentes))
            return true;
        signalerEchec(m_etat.chemin(), QStringLiteral("Écriture de %1 impossible : %2.").arg(m_etat.chemin(), m_etat.erreur()));
        return false;
    };
    for (const InventaireSauvegardes::Sauvegarde &sauvegarde : avant) {
        if (m_etat.contient(sauvegarde.nom))
            continue;
        if (m_arret && m_arret->load())
            break;
        const ArchivageSauvegarde::Bilan bilan = m_archivage.archiver(sauvegarde.chemin);
        if (bilan.resultat == LectureSauvegarde::Interrompue)
            break;
        if (bilan.resultat == LectureSauvegarde::Illisible) {
            mettreDeCote(sauvegarde, bilan.erreur);
            continue;
        }
        if (!bilan.complet()) {
            signalerEchec(sauvegarde.nom, QStringLiteral("Archivage de %1 impossible : %2. Nouvel essai au prochain passage.")
                                              .arg(sauvegarde.nom, bilan.erreur));
            reussi = false;
            break;
        }
        m_echecs.remove(sauvegarde.nom);
        m_etat.ajouter(sauvegarde.nom);
        m_ecriture(resume(sauvegarde.nom, bilan));
        aEnregistrer = true;
        if (depuisEnregistrement.elapsed() >= intervalleEnregistrement && !enregistrer())
            return false;
    }
    if (aEnregistrer && !enregistrer())
        return false;
    if (m_arret && m_arret->load())
        return reussi;

    const QVector<InventaireSauvegardes::Sauvegarde> apres = InventaireSauvegardes::lister(m_sauvegardes);
    const QStringList lignes = m_nettoyage.nettoyer(apres, m_etat.noms(), maintenant);
    for (const QString &ligne : lignes)
        m_ecriture(ligne);
    if (!lignes.isEmpty()) {
        presentes.clear();
        for (const InventaireSauvegardes::Sauvegarde &sauvegarde : InventaireSauvegardes::lister(m_sauvegardes))
            presentes.insert(sauvegarde.nom);
        if (!enregistrer())
            return false;
    }
    return reussi;
}

void PassageArchivage::mettreDeCote(const InventaireSauvegardes::Sauvegarde &sauvegarde, const QString &erreur)
{
    const QString nouveau = sauvegarde.nom + FichierSauvegarde::suffixeIllisible();
    const QString chemin = QDir(m_sauvegardes).filePath(nouveau);
    if (!QFile::exists(chemin) && QFile::rename(sauvegarde.chemin, chemin)) {
        m_echecs.remove(sauvegarde.nom);
        m_ecriture(QStringLiteral("Sauvegarde illisible : %1 (%2), mise de côté sous le nom %3.")
                       .arg(sauvegarde.nom, erreur, nouveau));
        return;
    }
    signalerEchec(sauvegarde.nom,
                  QStringLiteral("Sauvegarde illisible : %1 (%2), impossible de la mettre de côté.").arg(sauvegarde.nom, erreur));
}

void PassageArchivage::signalerEchec(const QString &nom, const QString &ligne)
{
    if (m_echecs.value(nom) == ligne)
        return;
    m_echecs.insert(nom, ligne);
    m_ecriture(ligne);
}
