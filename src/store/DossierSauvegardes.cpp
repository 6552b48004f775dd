// SPDX-License-Identifier: MIT
#include "DossierSauvegardes.h"

#include "Console.h"
#include "EchecSauvegarde.h"
#include "FichierSauvegarde.h"
#include "JournalRapports.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool libre(const QString &nom)
{
    const QFileInfo fichier(nom);
    return !fichier.exists() && !fichier.isSymLink();
}

// 0, or the system's error.
int synchroniser(const QString &chemin, int options)
{
    const int descripteur = ::open(QFile::encodeName(chemin).constData(), O_RDONLY | O_CLOEXEC | options);
    if (descripteur < 0)
        return errno;
    const int erreur = ::fsync(descripteur) == 0 ? 0 : errno;
    ::close(descripteur);
    return erreur;
}

} // namespace

// A backup never writes into an existing file: a taken name (two runs within
// one second, an older file) moves the time stamp on until one is free.
QString DossierSauvegardes::nomLibre()
{
    QDateTime instant = QDateTime::currentDateTime();
    forever {
        const QString nom = FichierSauvegarde::nom(instant);
        if (libre(nom) && libre(enCours(nom)) && !JournalRapports::segmentsAssignes(QStringLiteral("."), nom))
            return nom;
        instant = instant.addSecs(1);
    }
}

QString DossierSauvegardes::enCours(const QString &nom)
{
    return nom + FichierSauvegarde::suffixeEnCours();
}

bool DossierSauvegardes::nommer(const QString &temporaire, const QString &nom, EchecSauvegarde &echec)
{
    // The data reach the disk before the name does, and the name before the
    // backup counts as done: a crash at any point leaves either no backup
    // name or one that holds a whole database.
    const int synchronisation = synchroniser(temporaire, 0);
    if (synchronisation != 0) {
        echec.noter(tr("synchronisation du fichier"), temporaire, EchecSauvegarde::erreurSysteme(synchronisation));
        return false;
    }
    if (::rename(QFile::encodeName(temporaire).constData(), QFile::encodeName(nom).constData()) != 0) {
        const int erreur = errno;
        echec.noter(tr("renommage en %1").arg(nom), temporaire, EchecSauvegarde::erreurSysteme(erreur));
        return false;
    }
    synchroniser(QFileInfo(nom).absolutePath(), O_DIRECTORY);
    return true;
}

void DossierSauvegardes::mettreDeCoteInterrompues()
{
    const QString suffixe = FichierSauvegarde::suffixeEnCours();
    const QStringList restes = QDir::current().entryList({FichierSauvegarde::filtreNoms() + suffixe},
                                                         QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &reste : restes) {
        QString aCote = reste;
        aCote.chop(suffixe.size());
        // The journal holds its rows and removes it when it reads them back.
        if (JournalRapports::segmentsAssignes(QStringLiteral("."), aCote))
            continue;
        aCote += FichierSauvegarde::suffixeInterrompue();
        // Its rows may be all there (a crash after the copy) or not: it is
        // kept for the operator, under a name no reader takes for a backup.
        if (libre(aCote) && QFile::rename(reste, aCote))
            Console::ecrire(tr("Sauvegarde interrompue par un arrêt brutal : %1 mise de côté sous le nom %2, elle peut être incomplète.")
                                .arg(reste, aCote));
        else
            Console::ecrire(tr("Sauvegarde interrompue par un arrêt brutal : %1, elle peut être incomplète.").arg(reste));
    }
}
