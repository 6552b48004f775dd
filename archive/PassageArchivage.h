// SPDX-License-Identifier: MIT
#ifndef PASSAGEARCHIVAGE_H
#define PASSAGEARCHIVAGE_H

#include "ArchivageSauvegarde.h"
#include "EtatArchivage.h"
#include "NettoyageSauvegardes.h"

#include <QHash>

#include <atomic>
#include <functional>

// One look at the backup folder: rolls the files not yet archived, oldest
// first, remembers them, sets aside those that cannot be read, then applies
// the disk rules. A file that fails for another reason (the archive's disk,
// a damaged RRD file) stops the pass, so that files are rolled in time
// order: it is tried again at the next pass.
class PassageArchivage
{
public:
    using Ecriture = std::function<void(const QString &ligne)>;

    PassageArchivage(const QString &sauvegardes, const QString &archive, const NettoyageSauvegardes::Regles &regles,
                     NettoyageSauvegardes::LectureEspace lectureEspace, const std::atomic_bool *arret,
                     Ecriture ecriture);

    // Makes the archive folder and reads what was rolled before; false
    // with the console line written when it cannot.
    bool preparer();
    // False when a file could not be rolled or the list not written.
    bool executer(qint64 maintenant);

private:
    void mettreDeCote(const InventaireSauvegardes::Sauvegarde &sauvegarde, const QString &erreur);
    // Each failure once, until it changes or the file is rolled.
    void signalerEchec(const QString &nom, const QString &ligne);

    QString m_sauvegardes;
    QString m_archive;
    const std::atomic_bool *m_arret;
    Ecriture m_ecriture;
    ArchivageSauvegarde m_archivage;
    EtatArchivage m_etat;
    NettoyageSauvegardes m_nettoyage;
    QHash<QString, QString> m_echecs;
};

#endif
