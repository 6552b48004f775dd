// SPDX-License-Identifier: MIT
#ifndef NETTOYAGESAUVEGARDES_H
#define NETTOYAGESAUVEGARDES_H

#include "InventaireSauvegardes.h"

#include <QSet>
#include <QStringList>

#include <functional>

// Keeps the backup folder's disk bounded: deletes the raw files already in
// the archive, oldest first, once older than the rule's age (from the time
// stamp in their name), and then while free space is under the floor.
// Never the newest backup, never one not archived yet.
class NettoyageSauvegardes
{
public:
    struct Espace
    {
        qint64 libre = 0; // bytes an unprivileged user may still write
        qint64 total = 0;
    };
    // The filesystem's figures for a folder (statvfs); total 0 when unknown.
    using LectureEspace = std::function<Espace(const QString &dossier)>;
    static Espace espaceReel(const QString &dossier);

    struct Regles
    {
        qint64 brut = 8 * 86400; // seconds
        double espaceLibre = 10; // % of the filesystem
    };

    NettoyageSauvegardes(const QString &dossier, const Regles &regles, LectureEspace lectureEspace = espaceReel);

    // Deletes what the rules ask among `sauvegardes` (oldest first) and
    // returns the console lines: one per rule that deleted files, one per
    // file that could not be, one when the floor cannot be reached (then
    // again only once it was).
    QStringList nettoyer(const QVector<InventaireSauvegardes::Sauvegarde> &sauvegardes, const QSet<QString> &archivees,
                         qint64 maintenant);

private:
    QString m_dossier;
    Regles m_regles;
    LectureEspace m_lectureEspace;
    bool m_plancherInatteignable = false;
};

#endif
