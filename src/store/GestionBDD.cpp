// SPDX-License-Identifier: MIT
#include "GestionBDD.h"

#include "Console.h"
#include "CopieSauvegarde.h"
#include "DossierSauvegardes.h"
#include "EchecRequete.h"
#include "FichierSauvegarde.h"
#include "FileRapports.h"
#include "JournalRapports.h"
#include "RapportJson.h"

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
        }
    }
    m_insertion.terminerLot();
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
    // Every report received so far belongs to this backup.
    viderFile();
    m_insertion.terminerLot();
    m_insertion.ouvrir();
    const QString fichier = DossierSauvegardes::nomLibre();
    const QString enCours = DossierSauvegardes::enCours(fichier);
    if (m_journal)
        m_journal->assigner(fichier);

    // The page copy is the quick way; when it cannot be made, the statements
    // run and say which step fails, as they always have.
    const bool pages = CopieSauvegarde::copierPages(bdd, enCours);
    bool copiee = pages;
    if (pages) {
        remplacerStore();
    } else {
        QFile::remove(enCours);
        copiee = CopieSauvegarde::copierLignes(bdd, enCours);
    }

    // The name was free when the run began: a file there now is this run's,
    // and without the rows it would only mislead.
    if (!copiee)
        QFile::remove(enCours);
    else if (DossierSauvegardes::nommer(enCours, fichier) && m_journal)
        m_journal->sauvegardeTerminee(fichier);

    if (copiee)
        CopieSauvegarde::rendreMemoire(bdd, !pages);
    m_minuteurSauvegarde->start();
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
