// SPDX-License-Identifier: MIT
#ifndef ARCHIVEUR_H
#define ARCHIVEUR_H

#include "LigneCommandeArchive.h"
#include "PassageArchivage.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <atomic>

class QThread;

// collecteur-archive: passes over the backup folder, each in a thread of
// its own so that a stop request is heard while a large file is rolled.
// Once with --une-fois; otherwise when the folder changes (a new backup is
// a rename in it) and at least once a minute.
class Archiveur : public QObject
{
    Q_OBJECT

public:
    explicit Archiveur(const ParametresArchive &parametres,
                       NettoyageSauvegardes::LectureEspace lectureEspace = NettoyageSauvegardes::espaceReel,
                       QObject *parent = nullptr);
    ~Archiveur() override;

    // False, with its console line written, when the archive cannot be used.
    bool demarrer();

public slots:
    // Between two series at the latest; termine() follows.
    void arreter();

signals:
    // The exit status: 0, or 1 when --une-fois could not roll everything.
    void termine(int code);

private:
    void demanderPassage();
    void lancerPassage();
    void passageFini();

    ParametresArchive m_parametres;
    std::atomic_bool m_arret{false};
    PassageArchivage m_passage;
    QFileSystemWatcher m_surveillance;
    QTimer m_minute;
    QTimer m_delai;
    QThread *m_fil = nullptr;
    bool m_reussi = true;
    bool m_encore = false;
};

#endif
