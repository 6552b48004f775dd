// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "FileRapports.h"
#include "GestionBDD.h"
#include "LectureSql.h"
#include "LignesAttendues.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

#include <csignal>
#include <sys/resource.h>

namespace {


const QString formatHorodatage = QStringLiteral("dd-MM-yyyy_hh-mm-ss");
const QString contenu = QStringLiteral("SELECT h.id, h.name, h.time, h.cputemp, v.id, v.idinfos, v.name, v.uuid, v.state, "
                                       "v.ram, typeof(h.time), typeof(v.ram) FROM InfosHyperviseurs h "
                                       "LEFT JOIN InfosVMs v ON v.idinfos = h.id ORDER BY h.id, v.id");
const QString schema = QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
const QString comptes = QStringLiteral("SELECT (SELECT count(*) FROM InfosHyperviseurs), (SELECT count(*) FROM InfosVMs)");

Lignes lireStore(const QString &sql)
{
    return lire(QSqlDatabase::database(QStringLiteral("collecteur"), false), sql);
}

// Reads a backup file on a connection of its own, read-only, so that the
// reading leaves the file exactly as the store wrote it.
Lignes lireFichier(const QString &fichier, const QString &sql)
{
    Lignes resultat;
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lecture"));
        base.setDatabaseName(fichier);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!base.open())
            qFatal("%s : %s", qPrintable(base.lastError().text()), qPrintable(fichier));
        resultat = lire(base, sql);
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lecture"));
    return resultat;
}

QStringList fichiers()
{
    return QDir::current().entryList({QStringLiteral("collecteur*")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                     QDir::Name);
}

QDateTime horodatage(const QString &fichier)
{
    static const QRegularExpression nom(QStringLiteral("^collecteur(\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d)\\.db$"));
    const QRegularExpressionMatch correspondance = nom.match(fichier);
    return correspondance.hasMatch() ? QDateTime::fromString(correspondance.captured(1), formatHorodatage) : QDateTime();
}

QString nomFichier(const QDateTime &instant)
{
    return QStringLiteral("collecteur") + instant.toString(formatHorodatage) + QStringLiteral(".db");
}

const QByteArray rapportA = R"({"name":"hv-a","time":1309139574,"cputemp":47.5,"vms":[{"name":"a1","uuid":"u-a1","state":1,"ram":524288},{"name":"a2","state":0}]})";
const QByteArray rapportB = R"({"name":"hv-b","time":"1309143174","vms":[{"name":"b1","ram":1024}]})";
const QByteArray rapportC = R"({"name":"hv-c","time":1309146774,"vms":[{"name":"c1"}]})";

} // namespace

class TestSauvegarde : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storeVide();
    void deplacementDesLignes();
    void deuxSauvegardes();
    void nomDejaPris();
    void copieImpossible_data();
    void copieImpossible();
    void sauvegardeFinaleImpossible_data();
    void sauvegardeFinaleImpossible();
    void chaineDuMinuteur();
    void sauvegardeALaFermeture();
    void aucuneSauvegardeDemandeeALaFermeture();
    void sauvegardesInterrompues();
    void fileVideeParLaSauvegarde();

private:
    void ajouter(const QByteArray &rapport) { m_store->ajouterDonnees(QString::fromLatin1(rapport)); }
    void sauvegarder() { m_store->sauvegarderBDD(); }
    QTimer *minuteur() const { return m_store->findChild<QTimer *>(QStringLiteral("minuteurSauvegarde")); }

    std::unique_ptr<QTemporaryDir> m_dossier;
    QString m_dossierPrecedent;
    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<GestionBDD> m_store;
};

void TestSauvegarde::init()
{
    m_dossier = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dossier->isValid());
    m_dossierPrecedent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dossier->path()));
    m_console = std::make_unique<CaptureConsole>();
    m_store = std::make_unique<GestionBDD>();
    m_console->vider();
}

void TestSauvegarde::cleanup()
{
    m_store.reset();
    m_console.reset();
    QDir::setCurrent(m_dossierPrecedent);
    m_dossier.reset();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("collecteur_sauvegarde")));
}

void TestSauvegarde::storeVide()
{
    const QDateTime avant = QDateTime::currentDateTime().addMSecs(-999);
    sauvegarder();
    const QDateTime apres = QDateTime::currentDateTime();

    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 1);
    const QDateTime instant = horodatage(noms.constFirst());
    QVERIFY2(instant.isValid() && instant >= avant && instant <= apres, qPrintable(noms.constFirst()));

    const Lignes schemaStore = lireStore(schema);
    QCOMPARE(schemaStore.size(), 6);
    QCOMPARE(lireFichier(noms.constFirst(), schema), schemaStore);
    QCOMPARE(lireFichier(noms.constFirst(), comptes), Lignes({{0, 0}}));
    QCOMPARE(lireStore(comptes), Lignes({{0, 0}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestSauvegarde::deplacementDesLignes()
{
    ajouter(rapportA);
    ajouter(rapportB);
    const Lignes avant = lireStore(contenu);
    QCOMPARE(avant.size(), 3);

    sauvegarder();

    QCOMPARE(lireStore(comptes), Lignes({{0, 0}}));
    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 1);
    QCOMPARE(lireFichier(noms.constFirst(), contenu), avant);
    QCOMPARE(lireFichier(noms.constFirst(), QStringLiteral("PRAGMA foreign_key_check")), Lignes());

    ajouter(rapportC);
    QCOMPARE(lireStore(QStringLiteral("SELECT h.id, v.id, v.idinfos FROM InfosHyperviseurs h JOIN InfosVMs v")),
             Lignes({{1, 1, 1}}));
    QCOMPARE(lireStore(QStringLiteral("PRAGMA foreign_keys")), Lignes({{1}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestSauvegarde::deuxSauvegardes()
{
    ajouter(rapportA);
    sauvegarder();
    ajouter(rapportB);
    ajouter(rapportC);
    sauvegarder();

    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 2);
    QVERIFY(horodatage(noms.at(0)) < horodatage(noms.at(1)));
    const QString hyperviseurs = QStringLiteral("SELECT id, name FROM InfosHyperviseurs ORDER BY id");
    const QString vms = QStringLiteral("SELECT idinfos, name FROM InfosVMs ORDER BY id");
    QCOMPARE(lireFichier(noms.at(0), hyperviseurs), Lignes({{1, QStringLiteral("hv-a")}}));
    QCOMPARE(lireFichier(noms.at(0), vms), Lignes({{1, QStringLiteral("a1")}, {1, QStringLiteral("a2")}}));
    QCOMPARE(lireFichier(noms.at(1), hyperviseurs), Lignes({{1, QStringLiteral("hv-b")}, {2, QStringLiteral("hv-c")}}));
    QCOMPARE(lireFichier(noms.at(1), vms), Lignes({{1, QStringLiteral("b1")}, {2, QStringLiteral("c1")}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestSauvegarde::nomDejaPris()
{
    // The names of the next few seconds are taken: an older backup, a
    // foreign file, a directory.
    const QDateTime maintenant = QDateTime::currentDateTime();
    QHash<QString, QByteArray> occupes;
    for (int i = 0; i < 6; ++i) {
        const QString nom = nomFichier(maintenant.addSecs(i));
        if (i == 5) {
            QVERIFY(QDir::current().mkdir(nom));
            continue;
        }
        QFile fichier(nom);
        QVERIFY2(fichier.open(QIODevice::WriteOnly), qPrintable(fichier.errorString()));
        occupes.insert(nom, QByteArray("occupé ") + QByteArray::number(i));
        fichier.write(occupes.value(nom));
    }
    ajouter(rapportA);

    const QDateTime avant = QDateTime::currentDateTime();
    sauvegarder();

    QStringList nouveaux = fichiers();
    for (int i = 0; i < 6; ++i)
        QVERIFY(nouveaux.removeOne(nomFichier(maintenant.addSecs(i))));
    QCOMPARE(nouveaux.size(), 1);
    const QDateTime instant = horodatage(nouveaux.constFirst());
    if (avant < maintenant.addSecs(6))
        QCOMPARE(nouveaux.constFirst(), nomFichier(maintenant.addSecs(6)));
    else
        QVERIFY2(instant.isValid(), qPrintable(nouveaux.constFirst()));
    QCOMPARE(lireFichier(nouveaux.constFirst(), comptes), Lignes({{1, 2}}));

    for (auto occupe = occupes.cbegin(); occupe != occupes.cend(); ++occupe) {
        QFile fichier(occupe.key());
        QVERIFY(fichier.open(QIODevice::ReadOnly));
        QCOMPARE(fichier.readAll(), occupe.value());
    }
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestSauvegarde::copieImpossible_data()
{
    QTest::addColumn<bool>("dossierSupprime");
    QTest::addColumn<bool>("declencheur");
    QTest::addColumn<QStringList>("console");

    const QString conservees = QStringLiteral("\"Les lignes sont conservées pour la prochaine sauvegarde.\" ");
    // The file cannot even be created: one line for the step, not one for
    // each statement that would follow it.
    QTest::newRow("dossier courant supprime")
        << true << false
        << QStringList{QStringLiteral("\"Échec de la sauvegarde dans collecteur<erreur>.db.en-cours, étape « création du "
                                      "fichier » : unable to open database file (No such file or directory)\" "),
                       conservees};
    // A trigger makes the store move its rows by statements.
    QTest::newRow("lignes, dossier courant supprime")
        << true << true << QStringList{QStringLiteral("\"Connexion à la base de données impossible\" "), conservees};
    // The file is created and every table copied, but emptying the store
    // fails before the commit.
    QTest::newRow("vidage refuse")
        << false << true << QStringList{QStringLiteral("\"<erreur> : DELETE FROM main.InfosVMs\" "), conservees};
}

void TestSauvegarde::copieImpossible()
{
    QFETCH(bool, dossierSupprime);
    QFETCH(bool, declencheur);
    QFETCH(QStringList, console);

    QSqlQuery requete(QSqlDatabase::database(QStringLiteral("collecteur"), false));
    if (declencheur) {
        QVERIFY2(requete.exec(QStringLiteral("CREATE TRIGGER Refus BEFORE DELETE ON InfosVMs "
                                             "BEGIN SELECT RAISE(ABORT, 'refus'); END")),
                 qPrintable(requete.lastError().text()));
    }
    ajouter(rapportA);
    ajouter(rapportB);
    const Lignes avant = lireStore(contenu);

    const QString dossier = QDir::current().absoluteFilePath(QStringLiteral("parti"));
    if (dossierSupprime) {
        QVERIFY(QDir::current().mkdir(QStringLiteral("parti")));
        QVERIFY(QDir::setCurrent(dossier));
        QVERIFY(QDir().rmdir(dossier));
    }
    minuteur()->stop();
    sauvegarder();
    QVERIFY(QDir::setCurrent(m_dossier->path()));

    comparerLignes(m_console->lignes(), console);
    QCOMPARE(lireStore(contenu), avant);
    QCOMPARE(fichiers(), QStringList());
    QVERIFY(minuteur()->isActive());

    m_console->vider();
    if (declencheur)
        QVERIFY(requete.exec(QStringLiteral("DROP TRIGGER Refus")));
    ajouter(rapportC);
    sauvegarder();

    QCOMPARE(m_console->lignes(), QStringList());
    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 1);
    QCOMPARE(lireFichier(noms.constFirst(), contenu).mid(0, avant.size()), avant);
    QCOMPARE(lireFichier(noms.constFirst(), QStringLiteral("SELECT name FROM InfosHyperviseurs ORDER BY id")),
             Lignes({{QStringLiteral("hv-a")}, {QStringLiteral("hv-b")}, {QStringLiteral("hv-c")}}));
    QCOMPARE(lireFichier(noms.constFirst(), comptes), Lignes({{3, 4}}));
    QCOMPARE(lireStore(comptes), Lignes({{0, 0}}));
}

void TestSauvegarde::sauvegardeFinaleImpossible_data()
{
    QTest::addColumn<QString>("journal");
    QTest::addColumn<int>("rapportsAvantArret");
    QTest::addColumn<QStringList>("console");

    const QString echec = QStringLiteral("\"Échec de la sauvegarde dans collecteur<erreur>.db.en-cours, étape « création du "
                                         "fichier » : unable to open database file (No such file or directory)\" ");
    QTest::newRow("sans journal")
        << QString() << 0
        << QStringList{echec, QStringLiteral("\"Sauvegarde finale impossible : 2 rapport(s) dans aucun fichier de "
                                             "sauvegarde, et sans journal : ils sont perdus.\" ")};
    QTest::newRow("journal complet")
        << QStringLiteral("dossier") << 0
        << QStringList{echec, QStringLiteral("\"Sauvegarde finale impossible : 2 rapport(s) dans aucun fichier de "
                                             "sauvegarde, tous gardés par le journal, qui les rendra au prochain démarrage "
                                             "dans ce dossier.\" ")};
    QTest::newRow("journal jamais ouvert")
        << QStringLiteral("absent") << 0
        << QStringList{echec, QStringLiteral("\"Sauvegarde finale impossible : 2 rapport(s) dans aucun fichier de "
                                             "sauvegarde, et le journal n'en garde aucun : ils sont perdus.\" ")};
    // Once the first two reports are in the journal, its file may only
    // grow by part of a record: the next two are not in it, the first of
    // them cut short.
    QTest::newRow("journal arrete en route")
        << QStringLiteral("limite") << 2
        << QStringList{QStringLiteral("\"Journal collecteur-1.journal : impossible de écrire (File too large). Le collecteur "
                                      "continue sans journal : un arrêt brutal perdrait les rapports reçus depuis la "
                                      "dernière sauvegarde.\" "),
                       echec,
                       QStringLiteral("\"Sauvegarde finale impossible : 4 rapport(s) dans aucun fichier de sauvegarde, "
                                      "dont 2 que le journal ne garde pas (perdus) ; il rendra les 2 autre(s) au prochain "
                                      "démarrage dans ce dossier.\" ")};
    QTest::newRow("store vide")
        << QStringLiteral("vide") << 0
        << QStringList{echec, QStringLiteral("\"Sauvegarde finale impossible, mais aucun rapport n'attendait de "
                                             "sauvegarde.\" ")};
}

// A failed last backup says what it leaves in no file: the reports in
// memory, and which of them the journal still holds for the next start.
void TestSauvegarde::sauvegardeFinaleImpossible()
{
    QFETCH(QString, journal);
    QFETCH(int, rapportsAvantArret);
    QFETCH(QStringList, console);

    QTemporaryDir dossierJournal;
    if (journal == QLatin1String("absent"))
        m_store->activerJournal(dossierJournal.filePath(QStringLiteral("absent")));
    else if (!journal.isEmpty())
        m_store->activerJournal(dossierJournal.path());
    const QString segment = dossierJournal.filePath(QStringLiteral("collecteur-1.journal"));
    if (journal != QLatin1String("vide")) {
        ajouter(rapportA);
        ajouter(rapportB);
    }
    struct rlimit avant;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &avant), 0);
    if (journal == QLatin1String("limite")) {
        // Written and synced twice a second.
        QTRY_VERIFY(QFileInfo(segment).size() > 100);
        struct rlimit limite = avant;
        limite.rlim_cur = rlim_t(QFileInfo(segment).size() + 30);
        ::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limite), 0);
        for (int numero = 0; numero < rapportsAvantArret; ++numero)
            ajouter(rapportC);
    }

    const QString dossier = QDir::current().absoluteFilePath(QStringLiteral("parti"));
    QVERIFY(QDir::current().mkdir(QStringLiteral("parti")));
    QVERIFY(QDir::setCurrent(dossier));
    QVERIFY(QDir().rmdir(dossier));
    m_console->vider();
    const bool sauvegardee = m_store->sauvegarderFin();
    QVERIFY(QDir::setCurrent(m_dossier->path()));
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &avant), 0);
    ::signal(SIGXFSZ, SIG_DFL);

    QVERIFY(!sauvegardee);
    comparerLignes(m_console->lignes(), console);
    QCOMPARE(fichiers(), QStringList());
}

void TestSauvegarde::chaineDuMinuteur()
{
    QTimer *suivante = minuteur();
    QVERIFY(suivante);
    QVERIFY(suivante->isSingleShot());
    QCOMPARE(suivante->interval(), 3600000);
    QVERIFY(suivante->isActive());
    QVERIFY(suivante->remainingTime() > 3500000);
    QCOMPARE(fichiers(), QStringList());

    suivante->stop();
    m_store->sauvegarderBDD();
    QVERIFY(suivante->isActive());
    QVERIFY(suivante->remainingTime() > 3500000);
    QCOMPARE(fichiers().size(), 1);

    // Only the chain's own timer is left behind.
    QCOMPARE(m_store->findChildren<QTimer *>().size(), 1);
}

// As the collector runs it: the store in a thread of its own, its owner
// asking from the quitting main thread for the last backup and waiting for
// it, which takes every report queued before.
void TestSauvegarde::sauvegardeALaFermeture()
{
    m_store.reset();
    QThread thread;
    thread.start();
    QObject contexte;
    contexte.moveToThread(&thread);
    FileRapports file;
    GestionBDD *store = nullptr;
    QMetaObject::invokeMethod(
        &contexte,
        [&] {
            store = new GestionBDD;
            store->suivreFile(&file);
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(store);
    m_console->vider();
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, store, &GestionBDD::sauvegarderBDD,
            Qt::BlockingQueuedConnection);
    file.ajouter(QString::fromLatin1(rapportA));
    file.ajouter(QString::fromLatin1(rapportB));
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCOMPARE(QCoreApplication::exec(), 0);

    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 1);
    QCOMPARE(lireFichier(noms.constFirst(), comptes), Lignes({{2, 3}}));
    Lignes restantes;
    // The store's connection is used in its own thread only.
    QMetaObject::invokeMethod(
        &contexte,
        [&] {
            restantes = lireStore(comptes);
            delete store;
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    QCOMPARE(restantes, Lignes({{0, 0}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

// Only its owner asks for a last backup: a store left alone writes none
// when the application quits.
void TestSauvegarde::aucuneSauvegardeDemandeeALaFermeture()
{
    ajouter(rapportA);
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCOMPARE(QCoreApplication::exec(), 0);

    QCOMPARE(fichiers(), QStringList());
    QCOMPARE(lireStore(comptes), Lignes({{1, 2}}));
}

void TestSauvegarde::sauvegardesInterrompues()
{
    // What a crash in the middle of two backups leaves behind, next to a
    // good backup and a file already set aside by an earlier start.
    m_store.reset();
    const QStringList restes{QStringLiteral("collecteur01-02-2026_03-04-05.db.en-cours"),
                             QStringLiteral("collecteur01-02-2026_04-04-05.db.en-cours")};
    for (const QString &nom : restes + QStringList{QStringLiteral("collecteur01-02-2026_02-04-05.db"),
                                                    QStringLiteral("collecteur01-02-2026_04-04-05.db.interrompue")}) {
        QFile fichier(nom);
        QVERIFY2(fichier.open(QIODevice::WriteOnly), qPrintable(fichier.errorString()));
        fichier.write(nom.toLatin1());
    }
    m_console->vider();

    m_store = std::make_unique<GestionBDD>();

    QCOMPARE(m_console->lignes().mid(0, 2),
             (QStringList{QStringLiteral("\"Sauvegarde interrompue par un arrêt brutal : collecteur01-02-2026_03-04-05.db.en-cours "
                                         "mise de côté sous le nom collecteur01-02-2026_03-04-05.db.interrompue, "
                                         "elle peut être incomplète.\" "),
                          QStringLiteral("\"Sauvegarde interrompue par un arrêt brutal : collecteur01-02-2026_04-04-05.db.en-cours, "
                                         "elle peut être incomplète.\" ")}));
    QCOMPARE(fichiers(), (QStringList{QStringLiteral("collecteur01-02-2026_02-04-05.db"),
                                      QStringLiteral("collecteur01-02-2026_03-04-05.db.interrompue"),
                                      QStringLiteral("collecteur01-02-2026_04-04-05.db.en-cours"),
                                      QStringLiteral("collecteur01-02-2026_04-04-05.db.interrompue")}));
    QFile aCote(QStringLiteral("collecteur01-02-2026_03-04-05.db.interrompue"));
    QVERIFY(aCote.open(QIODevice::ReadOnly));
    QCOMPARE(aCote.readAll(), QByteArray("collecteur01-02-2026_03-04-05.db.en-cours"));

    // A backup of this run leaves only its own name behind.
    ajouter(rapportA);
    m_console->vider();
    sauvegarder();
    QCOMPARE(m_console->lignes(), QStringList());
    const QStringList apres = fichiers();
    QCOMPARE(apres.size(), 5);
    QCOMPARE(apres.filter(QStringLiteral(".en-cours")).size(), 1);
}

// Reports already queued for the store when a backup starts belong to it;
// one queued after it lands in the store for the next, once.
void TestSauvegarde::fileVideeParLaSauvegarde()
{
    FileRapports file;
    m_store->suivreFile(&file);
    file.ajouter(QString::fromLatin1(rapportA));
    file.ajouter(QString::fromLatin1(rapportB));

    sauvegarder();

    const QStringList noms = fichiers();
    QCOMPARE(noms.size(), 1);
    QCOMPARE(lireFichier(noms.constFirst(), comptes), Lignes({{2, 3}}));
    QCOMPARE(lireStore(comptes), Lignes({{0, 0}}));

    file.ajouter(QString::fromLatin1(rapportC));
    QTRY_COMPARE(lireStore(comptes), Lignes({{1, 1}}));
    QCoreApplication::processEvents();
    QCOMPARE(lireStore(QStringLiteral("SELECT name FROM InfosHyperviseurs")), Lignes({{QStringLiteral("hv-c")}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

QTEST_GUILESS_MAIN(TestSauvegarde)
#include "tst_sauvegarde.moc"
