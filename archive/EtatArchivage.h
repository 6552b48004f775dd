// SPDX-License-Identifier: MIT
#ifndef ETATARCHIVAGE_H
#define ETATARCHIVAGE_H

#include <QSet>
#include <QString>
#include <QStringList>

// The backup files already rolled into the archive, one name a line in
// FichierArchive::nomEtat(), so that a restart never rolls one twice. The
// file is replaced whole (a temporary file, synced, renamed, the folder
// synced), so that a crash leaves the old list or the new one.
class EtatArchivage
{
public:
    explicit EtatArchivage(const QString &archive);

    // False, with erreur(), when the file exists and cannot be read.
    bool charger();
    // Writes the names in `gardes` only: a file gone from the backup
    // folder need not be remembered.
    bool enregistrer(const QSet<QString> &gardes);

    bool contient(const QString &nom) const { return m_noms.contains(nom); }
    void ajouter(const QString &nom) { m_noms.insert(nom); }
    const QSet<QString> &noms() const { return m_noms; }
    QString chemin() const { return m_chemin; }
    QString erreur() const { return m_erreur; }

private:
    QString m_chemin;
    QSet<QString> m_noms;
    QString m_erreur;
};

#endif
