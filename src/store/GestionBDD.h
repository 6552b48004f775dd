// SPDX-License-Identifier: MIT
#ifndef GESTIONBDD_H
#define GESTIONBDD_H

#include "InsertionRapports.h"
#include "PlafondMemoire.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

class FileRapports;
class JournalRapports;
class QSqlQuery;
class QTimer;
class RapportJson;

// The measurement store: keeps every report as rows of an in-memory SQLite
// database and moves them into a time-stamped file once an hour, and when
// its owner asks for a last backup.
class GestionBDD : public QObject
{
    Q_OBJECT

public:
    // Failure lines shown for the rows of one report; the others are counted.
    static constexpr int lignesRefuseesAffichees = InsertionRapports::lignesRefuseesAffichees;

    explicit GestionBDD(QObject *parent = nullptr);
    ~GestionBDD() override;

    // Keeps every report in a journal in `dossier` until a backup holds it,
    // after reading back what a run that did not stop cleanly left there.
    void activerJournal(const QString &dossier);

    // Takes its reports from `file` from now on, all that wait at once,
    // storing them in transactions of up to `rapportsParTransaction`.
    void suivreFile(FileRapports *file);
    static constexpr int rapportsParTransaction = 256;

    // The most memory the rows taken from the queue may take (0: no bound).
    // Reaching it makes a backup at once; when backups fail, the oldest
    // reports are dropped.
    void limiterMemoire(qint64 octets);

    // The backup at a stop, every report received included. False, with a
    // line saying how many reports are in no backup file and whether the
    // journal holds them, when it fails.
    bool sauvegarderFin();

    // The store's report of a statement run on its connection: true, with a
    // console line, when it failed.
    bool verifierRequete(const QSqlQuery &requete) const;

public slots:
    void ajouterDonnees(const QString &donnees);
    // Every report received so far goes into the file, those still queued
    // included; the next backup is one interval after this one ends.
    void sauvegarderBDD();

private slots:
    void viderFile();

private:
    void creerTables();
    void stockerEnLots(QVector<RapportJson> &rapports, bool journaliser);
    void verifierPlafond();
    // `prendreFile`: the reports still queued go into this backup.
    bool sauvegarder(bool prendreFile, bool finale);
    void remplacerStore();
    void signalerPertes();

    QSqlDatabase bdd;
    InsertionRapports m_insertion;
    PlafondMemoire m_plafond;
    QTimer *m_minuteurSauvegarde;
    JournalRapports *m_journal = nullptr;
    FileRapports *m_file = nullptr;
};

#endif
