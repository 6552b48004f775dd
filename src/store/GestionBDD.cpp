// SPDX-License-Identifier: MIT
#include "GestionBDD.h"

#include "ClesRapport.h"
#include "Console.h"
#include "FichierSauvegarde.h"
#include "FileRapports.h"
#include "JournalRapports.h"
#include "RapportDecode.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QTimer>
#include <QVarLengthArray>

#include <algorithm>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const int intervalleSauvegarde = 3600000;

const QString &nomConnexion()
{
    static const QString nom = QStringLiteral("collecteur");
    return nom;
}

const QString &nomConnexionSauvegarde()
{
    static const QString nom = nomConnexion() + QStringLiteral("_sauvegarde");
    return nom;
}

const QString &suffixeEnCours()
{
    static const QString suffixe = FichierSauvegarde::suffixeEnCours();
    return suffixe;
}

const QString &suffixeInterrompue()
{
    static const QString suffixe = FichierSauvegarde::suffixeInterrompue();
    return suffixe;
}

bool nomLibre(const QString &nom)
{
    const QFileInfo fichier(nom);
    return !fichier.exists() && !fichier.isSymLink();
}

// A backup never writes into an existing file: a taken name (two runs within
// one second, an older file) moves the time stamp on until one is free.
QString nomFichierSauvegarde()
{
    QDateTime instant = QDateTime::currentDateTime();
    forever {
        const QString nom = FichierSauvegarde::nom(instant);
        if (nomLibre(nom) && nomLibre(nom + suffixeEnCours()) && !JournalRapports::segmentsAssignes(QStringLiteral("."), nom))
            return nom;
        instant = instant.addSecs(1);
    }
}

bool synchroniser(const QString &chemin, int options)
{
    const int descripteur = ::open(QFile::encodeName(chemin).constData(), O_RDONLY | O_CLOEXEC | options);
    if (descripteur < 0)
        return false;
    const bool ok = ::fsync(descripteur) == 0;
    ::close(descripteur);
    return ok;
}

const QStringList &clesHyperviseur()
{
    static const QStringList cles = ClesRapport::noms(ClesRapport::hyperviseur());
    return cles;
}

const QStringList &clesVM()
{
    static const QStringList cles = ClesRapport::noms(ClesRapport::vm());
    return cles;
}

// Written as Qt writes a string list, so that the line reads the same
// whatever the Qt version's own container format.
struct ListeCles
{
    const QStringList &cles;
};

QDebug operator<<(QDebug flux, const ListeCles &liste)
{
    flux << '(';
    for (int i = 0; i < liste.cles.size(); ++i) {
        if (i > 0)
            flux << ", ";
        flux << liste.cles.at(i);
    }
    flux << ')';
    return flux;
}

QVariant valeurSql(const QJsonValue &valeur)
{
    if (valeur.isNull() || valeur.isUndefined())
        return QVariant();
    return valeur.toVariant();
}

// Binds a value as Qt's SQLite driver binds it for an exec(), type for type,
// so that a row stored either way is the same row. A string must outlive
// the statement's next step.
bool lierValeur(sqlite3_stmt *instruction, int indice, const QVariant &valeur)
{
    if (!valeur.isValid())
        return sqlite3_bind_null(instruction, indice) == SQLITE_OK;
    switch (valeur.userType()) {
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(instruction, indice, valeur.toInt()) == SQLITE_OK;
    case QMetaType::Double:
        return sqlite3_bind_double(instruction, indice, valeur.toDouble()) == SQLITE_OK;
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(instruction, indice, valeur.toLongLong()) == SQLITE_OK;
    case QMetaType::QString: {
        const QString *texte = static_cast<const QString *>(valeur.constData());
        if (texte->isNull())
            return sqlite3_bind_null(instruction, indice) == SQLITE_OK;
        return sqlite3_bind_text16(instruction, indice, texte->utf16(), int(texte->size() * sizeof(QChar)), SQLITE_STATIC)
               == SQLITE_OK;
    }
    default: {
        const QString texte = valeur.toString();
        return sqlite3_bind_text16(instruction, indice, texte.utf16(), int(texte.size() * sizeof(QChar)),
                                   SQLITE_TRANSIENT)
               == SQLITE_OK;
    }
    }
}

// The statement under a query the driver keeps; null once it is finalized.
sqlite3_stmt *instructionSqlite(const QSqlQuery &requete)
{
    const QSqlResult *resultat = requete.result();
    if (!resultat)
        return nullptr;
    const QVariant poignee = resultat->handle();
    if (!poignee.isValid() || qstrcmp(poignee.typeName(), "sqlite3_stmt*") != 0)
        return nullptr;
    return *static_cast<sqlite3_stmt *const *>(poignee.constData());
}

} // namespace

GestionBDD::GestionBDD(QObject *parent)
    : QObject(parent)
    , m_minuteurSauvegarde(new QTimer(this))
{
    m_minuteurSauvegarde->setObjectName(QStringLiteral("minuteurSauvegarde"));
    m_minuteurSauvegarde->setSingleShot(true);
    m_minuteurSauvegarde->setInterval(intervalleSauvegarde);
    connect(m_minuteurSauvegarde, &QTimer::timeout, this, &GestionBDD::sauvegarderBDD);

    mettreDeCoteSauvegardesInterrompues();

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

void GestionBDD::mettreDeCoteSauvegardesInterrompues()
{
    const QStringList restes = QDir::current().entryList(
        {FichierSauvegarde::filtreNoms() + suffixeEnCours()}, QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &reste : restes) {
        QString aCote = reste;
        aCote.chop(suffixeEnCours().size());
        // The journal holds its rows and removes it when it reads them back.
        if (JournalRapports::segmentsAssignes(QStringLiteral("."), aCote))
            continue;
        aCote += suffixeInterrompue();
        // Its rows may be all there (a crash after the copy) or not: it is
        // kept for the operator, under a name no reader takes for a backup.
        if (nomLibre(aCote) && QFile::rename(reste, aCote))
            Console::ecrire(tr("Sauvegarde interrompue par un arrêt brutal : %1 mise de côté sous le nom %2, elle peut être incomplète.")
                                .arg(reste, aCote));
        else
            Console::ecrire(tr("Sauvegarde interrompue par un arrêt brutal : %1, elle peut être incomplète.").arg(reste));
    }
}

GestionBDD::~GestionBDD()
{
    terminerLot();
    m_requetes.clear();
    if (bdd.isOpen())
        bdd.close();
    // The registry only lets a connection go quietly once no handle is left.
    bdd = QSqlDatabase();
    QSqlDatabase::removeDatabase(nomConnexion());
}

bool GestionBDD::ouvrir()
{
    if (bdd.isOpen())
        return true;
    // Closing the connection finalized every statement kept.
    m_requetes.clear();
    if (bdd.open())
        return true;
    Console::ecrire(tr("Connexion à la base de données impossible"));
    return false;
}

void GestionBDD::executer(QSqlQuery &requete, const QString &texte)
{
    requete.exec(texte);
    verifierRequete(requete);
}

void GestionBDD::creerTables()
{
    ouvrir();
    QSqlQuery requete(bdd);
    executer(requete, QStringLiteral("PRAGMA foreign_keys = ON;"));
    for (const QString &instruction : FichierSauvegarde::schema())
        executer(requete, instruction);
}

bool GestionBDD::verifierRequete(const QSqlQuery &requete)
{
    return verifierRequete(requete, requete.lastQuery());
}

// `texteAffiche` is the statement as the console shows it, which for a VM insertion
// has the hypervisor row's id written in where the prepared one binds it.
bool GestionBDD::verifierRequete(const QSqlQuery &requete, const QString &texteAffiche)
{
    const QSqlError erreur = requete.lastError();
    if (erreur.type() == QSqlError::NoError)
        return false;

    QString texte = texteAffiche;
    // Qt 6 no longer hands the bound values out by name, so the names are
    // read from the statement, in ascending order as a map of names would
    // hold them. A statement run without bound values (an ATTACH of a file
    // name, say) is shown exactly as it was sent.
    if (!requete.boundValues().isEmpty()) {
        static const QRegularExpression marque(QStringLiteral(":[A-Za-z0-9_]+"));
        QStringList noms;
        QRegularExpressionMatchIterator correspondances = marque.globalMatch(texte);
        while (correspondances.hasNext())
            noms << correspondances.next().captured();
        std::sort(noms.begin(), noms.end());
        noms.erase(std::unique(noms.begin(), noms.end()), noms.end());

        // One pass over the statement as sent: a value is written once and
        // never searched again, so that values holding placeholder names can
        // neither disguise the statement nor make the line grow
        // exponentially. Where two names begin alike the lower one is taken,
        // as if the names were replaced one after the other.
        const QStringView envoye(texte);
        QString affiche;
        for (qsizetype i = 0; i < envoye.size();) {
            const QString *trouve = nullptr;
            if (envoye.at(i) == QLatin1Char(':')) {
                for (const QString &nom : qAsConst(noms)) {
                    if (envoye.mid(i).startsWith(nom)) {
                        trouve = &nom;
                        break;
                    }
                }
            }
            if (trouve) {
                affiche += requete.boundValue(*trouve).toString();
                i += trouve->size();
            } else {
                affiche += envoye.at(i++);
            }
        }
        texte = affiche;
    }

    Console::ecrire(tr("%1 : %2").arg(erreur.text(), texte));
    return true;
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
            QVector<RapportDecode> rapports;
            rapports.reserve(recuperation.rapports.size());
            for (const QString &rapport : recuperation.rapports)
                rapports.append(RapportDecode::aDecoder(rapport));
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
    QVector<RapportDecode> rapports = m_file->prendre();
    stockerEnLots(rapports, true);
}

void GestionBDD::stockerEnLots(QVector<RapportDecode> &rapports, bool journaliser)
{
    int dansLot = 0;
    for (RapportDecode &rapport : rapports) {
        rapport.decoder();
        if (journaliser && m_journal)
            m_journal->ajouter(rapport.octets());
        stocker(rapport, true);
        if (++dansLot == rapportsParTransaction) {
            terminerLot();
            dansLot = 0;
        }
    }
    terminerLot();
}

void GestionBDD::ajouterDonnees(const QString &donnees)
{
    const RapportDecode rapport(donnees);
    if (m_journal)
        m_journal->ajouter(rapport.octets());
    stocker(rapport);
}

// In a batch the reports share one transaction, which costs SQLite far less
// than one each; the batch's end commits it (terminerLot). A report whose
// transaction cannot begin goes on, and ends, as a report alone would.
void GestionBDD::stocker(const RapportDecode &decode, bool enLot)
{
    if (!decode.lisible()) {
        Console::ecrire(tr("Une erreur est survenue dans le parsing de la chaine JSON."));
        return;
    }

    m_lignesRefusees = 0;
    const QJsonObject rapport = decode.document().object();
    const QJsonArray vms = rapport.value(QLatin1String("vms")).toArray();

    ouvrir();
    if (!enLot || !m_lotOuvert) {
        if (!commencerTransaction())
            Console::ecrire(tr("Impossible de démarrer la transaction."));
        else if (enLot)
            m_lotOuvert = true;
    }

    const QVariant id = insererLignes(QStringLiteral("INSERT INTO InfosHyperviseurs(%1) VALUES(%2)"),
                                      clesHyperviseur(), QVector<QJsonObject>{rapport});

    QVector<QJsonObject> lignes;
    lignes.reserve(vms.size());
    for (const QJsonValue &vm : vms)
        lignes.append(vm.toObject());
    insererLignes(QStringLiteral("INSERT INTO InfosVMs(idinfos,%1) VALUES(%3,%2)"), clesVM(), lignes, &id);

    if (!enLot || !m_lotOuvert)
        validerTransaction();
    if (m_lignesRefusees > lignesRefuseesAffichees)
        Console::ecrire(tr("%1 autre(s) ligne(s) refusée(s) dans ce rapport.").arg(m_lignesRefusees - lignesRefuseesAffichees));
}

void GestionBDD::terminerLot()
{
    if (!m_lotOuvert)
        return;
    m_lotOuvert = false;
    validerTransaction();
}

// Valid until the next call.
QSqlQuery *GestionBDD::requetePreparee(const QString &texte)
{
    auto trouvee = m_requetes.find(texte);
    if (trouvee == m_requetes.end()) {
        QSqlQuery nouvelle(bdd);
        if (!nouvelle.prepare(texte))
            return nullptr;
        trouvee = m_requetes.insert(texte, nouvelle);
    }
    return &*trouvee;
}

// QSqlDatabase::transaction() and commit() compile their statement anew each
// time, which costs as much as storing a small report; the outcome and the
// console lines are the same with statements prepared once.
bool GestionBDD::commencerTransaction()
{
    if (!bdd.isOpen())
        return false;
    QSqlQuery *debut = requetePreparee(QStringLiteral("BEGIN"));
    return debut && debut->exec();
}

void GestionBDD::validerTransaction()
{
    QSqlQuery *validation = bdd.isOpen() ? requetePreparee(QStringLiteral("COMMIT")) : nullptr;
    if (!validation) {
        if (!bdd.commit())
            Console::ecrire(tr("Impossible de valider la transaction: %1").arg(bdd.lastError().text()));
        return;
    }
    if (!validation->exec()) {
        const QSqlError erreur(QCoreApplication::translate("QSQLiteDriver", "Unable to commit transaction"),
                               validation->lastError().databaseText(), QSqlError::TransactionError);
        Console::ecrire(tr("Impossible de valider la transaction: %1").arg(erreur.text()));
    }
}

QVariant GestionBDD::insererLignes(const QString &requete, const QStringList &cles, const QVector<QJsonObject> &lignes,
                                   const QVariant *idinfos)
{
    if (requete.isEmpty() || cles.isEmpty() || lignes.isEmpty()) {
        Console::ecrire(tr("Erreur. Un paramètre ne contient aucunes données."));
        Console::ecrire(ListeCles{cles});
        return QVariant(false);
    }

    ouvrir();

    // The first row decides the columns of every row.
    Instruction &instruction = instructionInsertion(requete, cles, lignes.constFirst());

    // The hypervisor row's id (%3 of a VM template) is bound, so that one
    // prepared statement serves every report; the console still shows it
    // written in. Without an id, and whenever a statement does not prepare,
    // the text with the id written in is prepared for this call alone and
    // fails as it always did.
    // The text with the id written in is only needed to prepare a statement
    // that cannot be kept, or to show a failure: never for a stored row.
    QString texte;
    const auto texteAffiche = [&]() -> const QString & {
        if (texte.isNull())
            texte = idinfos ? instruction.texte.arg(idinfos->toString()) : instruction.texte;
        return texte;
    };
    const bool idLie = idinfos && idinfos->isValid();
    QSqlQuery *gardee = (!idinfos || idLie) ? requetePreparee(idLie ? instruction.texteLie : instruction.texte) : nullptr;
    const bool preparee = gardee;
    QSqlQuery insertion = preparee ? *gardee : QSqlQuery(bdd);
    if (!preparee)
        insertion.prepare(texteAffiche());

    QVariant dernierId;
    for (const QJsonObject &ligne : lignes) {
        qint64 id = 0;
        if (preparee && insererVite(insertion, instruction, ligne, idLie ? idinfos : nullptr, &id)) {
            dernierId = id ? QVariant(id) : QVariant();
            continue;
        }
        // A row SQLite refuses (or a store whose statements are gone) takes
        // Qt's way, which fails alike, leaves the store as it was, and gives
        // the failure line its error text and values.
        if (idLie && preparee)
            insertion.bindValue(QStringLiteral(":idinfos"), *idinfos);
        // A key missing from a later row is stored as NULL, never as the
        // value left bound by the row before.
        for (int i = 0; i < instruction.colonnes.size(); ++i)
            insertion.bindValue(instruction.marques.at(i), valeurSql(ligne.value(instruction.colonnes.at(i))));
        insertion.exec();
        if (insertion.lastError().type() != QSqlError::NoError) {
            // One report cannot flood the operator's log: past the first
            // few, rejected rows are only counted.
            if (m_lignesRefusees++ < lignesRefuseesAffichees)
                verifierRequete(insertion, texteAffiche());
        }
        dernierId = insertion.lastInsertId();
    }
    return dernierId;
}

// The kept statement driven through SQLite's own interface: the values bound
// by position, no per-row bookkeeping of Qt's. True once the row is stored.
bool GestionBDD::insererVite(QSqlQuery &insertion, Instruction &instruction, const QJsonObject &ligne,
                             const QVariant *idinfos, qint64 *id)
{
    if (!bdd.isOpen())
        return false;
    sqlite3_stmt *const etape = instructionSqlite(insertion);
    if (!etape)
        return false;
    if (instruction.indices.size() != instruction.colonnes.size()) {
        instruction.indices.clear();
        for (const QString &marque : qAsConst(instruction.marques))
            instruction.indices << sqlite3_bind_parameter_index(etape, marque.toUtf8().constData());
        instruction.indiceId = sqlite3_bind_parameter_index(etape, ":idinfos");
    }
    if (sqlite3_bind_parameter_count(etape) != instruction.colonnes.size() + (idinfos ? 1 : 0)
        || (idinfos && instruction.indiceId == 0) || instruction.indices.contains(0))
        return false;

    sqlite3_reset(etape);
    // Bound strings point into these values until the step is done.
    QVarLengthArray<QVariant, 16> valeurs;
    bool lie = !idinfos || lierValeur(etape, instruction.indiceId, *idinfos);
    for (int i = 0; lie && i < instruction.colonnes.size(); ++i) {
        valeurs.append(valeurSql(ligne.value(instruction.colonnes.at(i))));
        lie = lierValeur(etape, instruction.indices.at(i), valeurs.last());
    }
    const bool stockee = lie && sqlite3_step(etape) == SQLITE_DONE;
    if (stockee)
        *id = sqlite3_last_insert_rowid(sqlite3_db_handle(etape));
    sqlite3_reset(etape);
    sqlite3_clear_bindings(etape);
    return stockee;
}

GestionBDD::Instruction &GestionBDD::instructionInsertion(const QString &requete, const QStringList &cles,
                                                                const QJsonObject &premiere)
{
    quint64 presentes = 0;
    for (int i = 0; i < cles.size(); ++i) {
        if (premiere.contains(cles.at(i)))
            presentes |= quint64(1) << (i % 64);
    }
    // Lists of more than 64 keys never occur; they are built anew each time.
    Instruction &instruction = m_instructions[qMakePair(requete, cles.size() <= 64 ? presentes : ~quint64(0))];
    if (cles.size() <= 64 && !instruction.texte.isNull() && instruction.cles == cles)
        return instruction;

    instruction = Instruction();
    instruction.cles = cles;
    QString listeColonnes;
    QString listeMarques;
    for (const QString &cle : cles) {
        if (!premiere.contains(cle))
            continue;
        instruction.colonnes << cle;
        instruction.marques << QLatin1Char(':') + cle;
        listeColonnes += QLatin1Char(' ') + cle + QLatin1Char(',');
        listeMarques += QStringLiteral(" :") + cle + QLatin1Char(',');
    }
    listeColonnes.chop(1);
    listeMarques.chop(1);
    instruction.texte = requete.arg(listeColonnes, listeMarques);
    if (instruction.texte.contains(QLatin1String("%3")))
        instruction.texteLie = instruction.texte.arg(QStringLiteral(":idinfos"));
    return instruction;
}

// Row by row, as statements: the copy and the emptying in one transaction,
// each failing step on the console.
bool GestionBDD::copierLignes(const QString &enCours)
{
    QStringList tables;
    {
        QSqlDatabase sauvegarde = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomConnexionSauvegarde());
        sauvegarde.setDatabaseName(enCours);
        const bool ouverte = sauvegarde.open();
        if (!ouverte)
            Console::ecrire(tr("Connexion à la base de données impossible"));
        QSqlQuery creation(sauvegarde);
        if (ouverte) {
            for (const char *reglage : {"PRAGMA foreign_keys = ON;", "PRAGMA case_sensitive_like=true;",
                                        "PRAGMA journal_mode=MEMORY;", "PRAGMA temp_store=MEMORY;",
                                        "PRAGMA locking_mode=EXCLUSIVE;", "PRAGMA synchronous = OFF;"})
                creation.exec(QString::fromLatin1(reglage));
        }

        QSqlQuery lecture(bdd);
        executer(lecture, QStringLiteral("SELECT sql, tbl_name FROM sqlite_master WHERE type='table' AND sql NOT NULL "
                                         "and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
        while (lecture.next()) {
            // Statements on a connection that failed to open would only add
            // Qt warnings to the failure already printed.
            if (ouverte)
                executer(creation, lecture.value(0).toString());
            tables << lecture.value(1).toString();
        }
        executer(lecture, QStringLiteral("SELECT sql FROM sqlite_master WHERE type='index' AND sql NOT NULL "
                                         "and name NOT IN ('sqlite_stat1', 'sqlite_sequence')"));
        while (lecture.next()) {
            if (ouverte)
                executer(creation, lecture.value(0).toString());
        }
        sauvegarde.close();
    }

    QSqlQuery requete(bdd);
    requete.exec(QStringLiteral("ATTACH DATABASE '") + enCours + QStringLiteral("' as sauvegarde"));
    const bool attachee = !verifierRequete(requete);
    if (attachee) {
        // The file is new, the rows stay in memory until the commit, and the
        // file only takes its name once synced: neither a journal on disk
        // nor a sync per transaction buys any safety here.
        executer(requete, QStringLiteral("PRAGMA sauvegarde.journal_mode=MEMORY;"));
        executer(requete, QStringLiteral("PRAGMA sauvegarde.synchronous = OFF;"));
    }
    // The rows already satisfy the foreign keys; checking them again row by
    // row, and cascading the emptying, would cost SQLite its bulk copy and
    // its bulk deletion. The pragma only takes effect outside a transaction.
    executer(requete, QStringLiteral("PRAGMA foreign_keys = OFF;"));
    // SQLite builds that default to secure deletion (Debian's) would zero
    // every page the emptying frees and keep a copy of each in the memory
    // journal: as long again as the copy, and twice the store's memory at
    // its peak, to protect pages that never leave the process.
    executer(requete, QStringLiteral("PRAGMA main.secure_delete = OFF;"));

    // A row leaves memory only once its copy is committed to the file.
    bool copiee = false;
    if (!bdd.transaction()) {
        Console::ecrire(tr("Impossible de démarrer la transaction."));
    } else {
        copiee = attachee;
        for (const QString &table : qAsConst(tables)) {
            requete.exec(QStringLiteral("INSERT INTO sauvegarde.") + table + QStringLiteral(" SELECT * FROM main.") + table);
            if (verifierRequete(requete))
                copiee = false;
        }
        if (copiee) {
            for (const QString &table : qAsConst(tables)) {
                requete.exec(QStringLiteral("DELETE FROM main.") + table);
                if (verifierRequete(requete))
                    copiee = false;
            }
        }
        if (copiee && !bdd.commit()) {
            Console::ecrire(tr("Impossible de valider la transaction: %1").arg(bdd.lastError().text()));
            copiee = false;
        }
        if (!copiee)
            bdd.rollback();
    }
    if (!copiee)
        Console::ecrire(tr("Les lignes sont conservées pour la prochaine sauvegarde."));

    executer(requete, QStringLiteral("PRAGMA foreign_keys = ON;"));
    executer(requete, QStringLiteral("DETACH DATABASE sauvegarde"));
    QSqlDatabase::removeDatabase(nomConnexionSauvegarde());
    return copiee;
}

// SQLite's online backup copies the store's pages into the file, as VACUUM
// INTO would, without reading a row into the program or a transaction on the
// store. Silent: on any failure the statement path runs instead.
bool GestionBDD::copierPages(const QString &enCours)
{
    if (!bdd.isOpen())
        return false;
    {
        // A copy of the pages would bypass the store's triggers (its own
        // schema has none): a store that has some is moved row by row.
        QSqlQuery declencheurs(bdd);
        if (!declencheurs.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='trigger'"))
            || declencheurs.next())
            return false;
    }
    const QVariant poignee = bdd.driver()->handle();
    if (!poignee.isValid() || qstrcmp(poignee.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *store = *static_cast<sqlite3 *const *>(poignee.constData());
    if (!store)
        return false;

    sqlite3 *fichier = nullptr;
    bool copiee = sqlite3_open_v2(QFile::encodeName(enCours).constData(), &fichier,
                                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
                  == SQLITE_OK;
    if (copiee) {
        // A temporary file, synced as a whole before it is named.
        sqlite3_exec(fichier, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
        sqlite3_backup *copie = sqlite3_backup_init(fichier, "main", store, "main");
        copiee = copie && sqlite3_backup_step(copie, -1) == SQLITE_DONE;
        if (copie)
            copiee = sqlite3_backup_finish(copie) == SQLITE_OK && copiee;
    }
    copiee = sqlite3_close(fichier) == SQLITE_OK && copiee;
    return copiee;
}

// The rows are in the file: a new, empty in-memory database takes the
// store's place, which frees the old one at once instead of deleting
// millions of rows one by one.
void GestionBDD::remplacerStore()
{
    m_requetes.clear();
    bdd.close();
    if (!bdd.open()) {
        Console::ecrire(tr("Connexion à la base de données impossible: %1").arg(bdd.lastError().text()));
        return;
    }
    creerTables();
}

void GestionBDD::sauvegarderBDD()
{
    // Every report received so far belongs to this backup.
    viderFile();
    terminerLot();
    ouvrir();
    const QString fichier = nomFichierSauvegarde();
    const QString enCours = fichier + suffixeEnCours();
    if (m_journal)
        m_journal->assigner(fichier);

    // The page copy is the quick way; when it cannot be made, the statements
    // run and say which step fails, as they always have.
    const bool pages = copierPages(enCours);
    bool copiee = pages;
    if (pages) {
        remplacerStore();
    } else {
        QFile::remove(enCours);
        copiee = copierLignes(enCours);
    }

    // The name was free when the run began: a file there now is this run's,
    // and without the rows it would only mislead.
    if (!copiee)
        QFile::remove(enCours);
    else if (nommerSauvegarde(enCours, fichier) && m_journal)
        m_journal->sauvegardeTerminee(fichier);

    if (copiee)
        rendreMemoire(!pages);
    m_minuteurSauvegarde->start();
}

bool GestionBDD::nommerSauvegarde(const QString &enCours, const QString &fichier)
{
    // The data reach the disk before the name does, and the name before the
    // backup counts as done: a crash at any point leaves either no backup
    // name or one that holds a whole database.
    if (!synchroniser(enCours, 0))
        Console::ecrire(tr("Synchronisation de la sauvegarde %1 impossible : %2")
                            .arg(enCours, QString::fromLocal8Bit(std::strerror(errno))));
    if (::rename(QFile::encodeName(enCours).constData(), QFile::encodeName(fichier).constData()) != 0) {
        Console::ecrire(tr("La sauvegarde est restée sous le nom %1 : renommage en %2 impossible : %3")
                            .arg(enCours, fichier, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    const QString dossier = QFileInfo(fichier).absolutePath();
    synchroniser(dossier, O_DIRECTORY);
    return true;
}

void GestionBDD::rendreMemoire(bool compacter)
{
    // A store emptied row by row keeps its freed pages for later rows; once
    // empty it is rebuilt in a moment, and the memory goes back to the
    // system instead of staying at the hour's peak.
    QSqlQuery requete(bdd);
    if (compacter)
        executer(requete, QStringLiteral("VACUUM"));
    executer(requete, QStringLiteral("PRAGMA shrink_memory"));
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
