// SPDX-License-Identifier: MIT
#include "GestionBDD.h"

#include "Console.h"
#include "CopieSauvegarde.h"
#include "DossierSauvegardes.h"
#include "EchecRequete.h"
#include "EchecSauvegarde.h"
#include "FichierSauvegarde.h"
#include "FileRapports.h"
#include "JournalRapports.h"
#include "RapportJson.h"
#include "Taille.h"

#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace {

const int intervalleSauvegarde = 3600000;

const QString &nomConnexion()
{
    static const QString nom = QStringLiteral("collecteur");
    return nom;
}

} // namespace

GestionBDD::GestionBDD(QObject *parent)
    : QObject(parent)
    , m_insertion(bdd)
    , m_plafond(bdd)
    , m_minuteurSauvegarde(new QTimer(this))
{
    m_minuteurSauvegarde->setObjectName(QStringLiteral("minuteurSauvegarde"));
    m_minuteurSauvegarde->setSingleShot(true);
    m_minuteurSauvegarde->setInterval(intervalleSauvegarde);
    connect(m_minuteurSauvegarde, &QTimer::timeout, this, &GestionBDD::sauvegarderBDD);

    DossierSauvegardes::mettreDeCoteInterrompues();

    bdd = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomConnexion());
    bdd.setDatabaseName(QStringLiteral(":memory:"));
    if (!bdd.open()) {
        Console::ecrire(tr("Connexion à la base de données impossible: %1").arg(bdd.lastError().text()));
        return;
    }

    creerTables();

    Console::ecrire(tr("Le driver courant (%1) : ").arg(bdd.driverName()));
    const struct
    {
        QSqlDriver::DriverFeature fonction;
        const char *texte;
    } fonctions[] = {
        {QSqlDriver::Transactions, QT_TR_NOOP("SUPPORTE les transactions.")},
        {QSqlDriver::PreparedQueries, QT_TR_NOOP("SUPPORTE les requêtes préparées.")},
        {QSqlDriver::NamedPlaceholders, QT_TR_NOOP("SUPPORTE les marques nommées.")},
        {QSqlDriver::PositionalPlaceholders, QT_TR_NOOP("SUPPORTE les marques ordrées.")},
        {QSqlDriver::LastInsertId, QT_TR_NOOP("SUPPORTE le renvoi de l'ID de la dernière ligne insérée.")},
    };
    for (const auto &fonction : fonctions) {
        if (bdd.driver()->hasFeature(fonction.fonction))
            Console::ecrire(QStringLiteral("  ") + tr(fonction.texte));
    }
    m_minuteurSauvegarde->start();
}

GestionBDD::~GestionBDD()
{
    m_insertion.terminerLot();
    m_insertion.oublierRequetes();
    if (bdd.isOpen())
        bdd.close();
    // The registry only lets a connection go quietly once no handle is left.
    bdd = QSqlDatabase();
    QSqlDatabase::removeDatabase(nomConnexion());
}

void GestionBDD::creerTables()
{
    m_insertion.ouvrir();
    QSqlQuery requete(bdd);
    requete.exec(QStringLiteral("PRAGMA foreign_keys = ON;"));
    verifierRequete(requete);
    for (const QString &instruction : FichierSauvegarde::schema()) {
        requete.exec(instruction);
        verifierRequete(requete);
    }
}

bool GestionBDD::verifierRequete(const QSqlQuery &requete) const
{
    return EchecRequete::signaler(requete);
}

void GestionBDD::activerJournal(const QString &dossier)
{
    if (m_journal)
        return;
    m_journal = new JournalRapports(dossier, this);
    const JournalRapports::Recuperation recuperation = m_journal->recuperer();
    if (recuperation.trouve) {
        {
            const Console::Silence silence;
            QVector<RapportJson> rapports;
            rapports.reserve(recuperation.rapports.size());
            for (const QString &rapport : recuperation.rapports)
                rapports.append(RapportJson::aDecoder(rapport));
            // Already in the journal: read back from it.
            stockerEnLots(rapports, false);
        }
        Console::ecrire(tr("Journal relu après un arrêt brutal : %1 rapport(s) récupéré(s), %2 octet(s) "
                           "d'un dernier enregistrement incomplet ignoré(s).")
                            .arg(recuperation.rapports.size())
                            .arg(recuperation.octetsIgnores));
    }
    m_journal->demarrer();
}

void GestionBDD::suivreFile(FileRapports *file)
{
    m_file = file;
    connect(file, &FileRapports::rapportsEnAttente, this, &GestionBDD::viderFile, Qt::QueuedConnection);
}

void GestionBDD::viderFile()
{
    if (!m_file)
        return;
    QVector<RapportJson> rapports = m_file->prendre();
    stockerEnLots(rapports, true);
}

// A batch shares transactions, which costs SQLite far less than one per report.
// What the journal gives back is stored whole, whatever the bound: a backup
// in the middle would take its segments with only part of their reports.
void GestionBDD::stockerEnLots(QVector<RapportJson> &rapports, bool journaliser)
{
    int dansLot = 0;
    for (RapportJson &rapport : rapports) {
        rapport.decoder();
        if (journaliser && m_journal)
            m_journal->ajouter(rapport.octets());
        m_insertion.stocker(rapport, true);
        if (++dansLot == rapportsParTransaction) {
            m_insertion.terminerLot();
            dansLot = 0;
            if (journaliser)
                verifierPlafond();
        }
    }
    m_insertion.terminerLot();
    if (journaliser)
        verifierPlafond();
}

void GestionBDD::limiterMemoire(qint64 octets)
{
    m_plafond.fixer(octets);
}

// Between batches, where every report taken is stored and journaled: a
// backup made here takes exactly what the journal assigns to it.
void GestionBDD::verifierPlafond()
{
    if (!m_plafond.atteint())
        return;
    if (m_plafond.essaiPermis()) {
        Console::ecrire(tr("Mémoire du stockage au plafond (%1, --memoire-max) : sauvegarde immédiate.")
                            .arg(Taille::texte(m_plafond.plafond())));
        if (sauvegarder(false, false))
            return;
    }
    m_plafond.supprimerPlusAnciens();
}

void GestionBDD::ajouterDonnees(const QString &donnees)
{
    const RapportJson rapport(donnees);
    if (m_journal)
        m_journal->ajouter(rapport.octets());
    m_insertion.stocker(rapport);
}

void GestionBDD::sauvegarderBDD()
{
    sauvegarder(true, false);
}

bool GestionBDD::sauvegarderFin()
{
    m_plafond.signalerEnAttente();
    if (sauvegarder(true, true))
        return true;
    signalerPertes();
    return false;
}

bool GestionBDD::sauvegarder(bool prendreFile, bool finale)
{
    // Every report received so far belongs to this backup.
    if (prendreFile)
        viderFile();
    m_insertion.terminerLot();
    m_insertion.ouvrir();
    const QString fichier = DossierSauvegardes::nomLibre();
    const QString enCours = DossierSauvegardes::enCours(fichier);
    if (m_journal)
        m_journal->assigner(fichier);

    // The page copy is the quick way; when it cannot be made, the statements
    // run and the first that fails is told, as it always was.
    EchecSauvegarde echec;
    const CopieSauvegarde::Copie copie = CopieSauvegarde::copierPages(bdd, enCours, echec);
    bool reussie = false;
    bool lignesGardees = true;
    if (copie == CopieSauvegarde::Impossible) {
        QFile::remove(enCours);
        reussie = CopieSauvegarde::copierLignes(bdd, enCours);
        if (!reussie) {
            QFile::remove(enCours);
        } else if (!DossierSauvegardes::nommer(enCours, fichier, echec)) {
            // The rows left the store with the copy's commit: the file keeps them.
            Console::ecrire(tr("La sauvegarde est restée sous le nom %1 : %2 impossible : %3")
                                .arg(enCours, echec.etape(), echec.erreur()));
            reussie = lignesGardees = false;
        }
    } else {
        // The store stays as it is until the file holds its rows under its
        // own name: a failure at any step leaves them all in memory.
        reussie = copie == CopieSauvegarde::Copiee && DossierSauvegardes::nommer(enCours, fichier, echec);
        if (reussie) {
            remplacerStore();
        } else {
            QFile::remove(enCours);
            echec.signaler();
        }
    }

    if (reussie) {
        if (m_journal)
            m_journal->sauvegardeTerminee(fichier);
        CopieSauvegarde::rendreMemoire(bdd, copie == CopieSauvegarde::Impossible);
        m_plafond.sauvegardeReussie();
    } else {
        // At a stop there is no next backup: the stop tells what is lost.
        if (lignesGardees && !finale)
            Console::ecrire(tr("Les lignes sont conservées pour la prochaine sauvegarde."));
        m_plafond.sauvegardeEchouee();
    }
    m_minuteurSauvegarde->start();
    return reussie;
}

// The rows are in the file: a new, empty in-memory database takes the
// store's place, which frees the old one at once instead of deleting
// millions of rows one by one.
void GestionBDD::remplacerStore()
{
    m_insertion.oublierRequetes();
    bdd.close();
    if (!bdd.open()) {
        Console::ecrire(tr("Connexion à la base de données impossible: %1").arg(bdd.lastError().text()));
        return;
    }
    creerTables();
}

void GestionBDD::signalerPertes()
{
    qint64 rapports = 0;
    {
        QSqlQuery compte(bdd);
        if (compte.exec(QStringLiteral("SELECT count(*) FROM InfosHyperviseurs")) && compte.next())
            rapports = compte.value(0).toLongLong();
    }
    // The oldest reports go first when memory runs short, and those the
    // journal missed are the latest: of those left, it misses no more than
    // it missed in all.
    EchecSauvegarde::signalerPertes(rapports, m_journal ? qMin(rapports, m_journal->horsJournal()) : rapports,
                                    m_journal);
}
