// SPDX-License-Identifier: MIT
#ifndef DOSSIERSAUVEGARDES_H
#define DOSSIERSAUVEGARDES_H

#include <QCoreApplication>
#include <QString>

class EchecSauvegarde;

// The backup files in the current directory. A backup is written under a
// temporary name and takes its own only once complete and on disk, so that
// a backup name always holds a whole database.
class DossierSauvegardes
{
    // The store's lines, in the store's translation context.
    Q_DECLARE_TR_FUNCTIONS(GestionBDD)

public:
    // The name for a backup written now, which no file, temporary file or
    // journal segment takes yet.
    static QString nomLibre();
    // `nom` with the suffix it goes by while it is written.
    static QString enCours(const QString &nom);
    // Syncs `temporaire`, renames it `nom` and syncs the directory. False,
    // with the failed step in `echec`, when the backup keeps its temporary
    // name: a file whose sync failed may not hold what was written.
    static bool nommer(const QString &temporaire, const QString &nom, EchecSauvegarde &echec);
    // At start-up: the temporary files of backups a crash interrupted, set
    // aside under a name no reader takes for a backup, with a line each.
    static void mettreDeCoteInterrompues();
};

#endif
