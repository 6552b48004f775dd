// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "FichierSauvegarde.h"
#include "FileRapports.h"
#include "GestionBDD.h"
#include "LectureSql.h"
#include "PlafondMemoire.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const int vmsParRapport = 10;

QString rapport(int numero)
{
    QString vms;
    for (int vm = 0; vm < vmsParRapport; ++vm)
        vms += QStringLiteral(R"(%1{"name":"r-%2-vm%3","uuid":"00000000-0000-0000-0000-%4","state":1,"cpu":12.5,)"
                              R"("ram":524288,"maxram":1048576,"network":1.25})")
                   .arg(vm ? QStringLiteral(",") : QString())
                   .arg(numero)
                   .arg(vm)
                   .arg(numero * 100 + vm, 12, 10, QLatin1Char('0'));
    return QStringLiteral(R"({"name":"r-%1","time":%1,"cputemp":47.5,"mbtemp":38.5,"cpu":23.4,"ram":61.8,)"
                          R"("disk":40.2,"network":3.75,"vms":[%2]})")
        .arg(numero)
        .arg(vms);
}

qint64 entier(const QSqlDatabase &base, const QString &sql)
{
    const Lignes lignes = lire(base, sql);
    return lignes.isEmpty() ? -1 : lignes.constFirst().value(0).toLongLong();
}

QString ligneSuppression(const QString &plafond, qint64 supprimes)
{
    return QStringLiteral("\"Mémoire du stockage au plafond (%1, --memoire-max) et sauvegarde impossible : %2 rapport(s) "
                          "parmi les plus anciens supprimé(s).\" ")
        .arg(plafond)
        .arg(supprimes);
}

// What a store whose rows are what they should be after drops holds: the
// newest reports from `premier` to `dernier`, each with all its VM rows
// (none when a backup has just taken them all).
void verifierLignes(const QSqlDatabase &base, qint64 premier, qint64 dernier)
{
    if (dernier < premier)
        QCOMPARE(entier(base, QStringLiteral("SELECT count(*) FROM InfosHyperviseurs")), qint64(0));
    else
        QCOMPARE(lire(base, QStringLiteral("SELECT min(time), max(time), count(*) FROM InfosHyperviseurs")),
                 Lignes({{premier, dernier, dernier - premier + 1}}));
    QCOMPARE(entier(base, QStringLiteral("SELECT count(*) FROM InfosVMs")), (dernier - premier + 1) * vmsParRapport);
    QCOMPARE(entier(base, QStringLiteral("SELECT count(*) FROM InfosVMs v LEFT JOIN InfosHyperviseurs h "
                                         "ON h.id = v.idinfos WHERE h.id IS NULL")),
             qint64(0));
}

} // namespace

class TestPlafondMemoire : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void occupation();
    void suppression_data();
    void suppression();
    void memoireReutilisee();
    void essais();

    void plafondDuStockage_data();
    void plafondDuStockage();

private:
    // The store's rows taken through its queue, as the collector feeds it.
    void remplir(int premier, int dernier);
    void inserer(int premier, int dernier);

    std::unique_ptr<QTemporaryDir> m_dossier;
    QString m_dossierPrecedent;
    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<GestionBDD> m_store;
    FileRapports m_file;
};

void TestPlafondMemoire::init()
{
    m_dossier = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dossier->isValid());
    m_dossierPrecedent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dossier->path()));
    m_console = std::make_unique<CaptureConsole>();
    m_store = std::make_unique<GestionBDD>();
    m_store->suivreFile(&m_file);
    m_console->vider();
}

void TestPlafondMemoire::cleanup()
{
    m_store.reset();
    m_console.reset();
    QDir::setCurrent(m_dossierPrecedent);
    m_dossier.reset();
}

void TestPlafondMemoire::remplir(int premier, int dernier)
{
    QVector<RapportJson> rapports;
    for (int numero = premier; numero <= dernier; ++numero)
        rapports.append(RapportJson::aDecoder(rapport(numero)));
    m_file.ajouter(std::move(rapports));
    // The store takes the whole queue at its next turn of the event loop.
    QCoreApplication::sendPostedEvents(m_store.get(), QEvent::MetaCall);
}

// Straight into the store, with no bound.
void TestPlafondMemoire::inserer(int premier, int dernier)
{
    for (int numero = premier; numero <= dernier; ++numero)
        m_store->ajouterDonnees(rapport(numero));
}

// The measure follows the pages in use: rows deleted give their pages to
// the free list, which new rows take before the database grows.
void TestPlafondMemoire::occupation()
{
    const QSqlDatabase base = QSqlDatabase::database(QStringLiteral("collecteur"), false);
    PlafondMemoire plafond(base);
    const qint64 vide = plafond.occupation();
    QVERIFY2(vide > 0 && vide < 64 * 1024, QByteArray::number(vide));

    inserer(1, 2000);
    const qint64 plein = plafond.occupation();
    const qint64 pages = entier(base, QStringLiteral("PRAGMA page_count")) * entier(base, QStringLiteral("PRAGMA page_size"));
    // Each page costs a little more than its bytes: SQLite's cache and the
    // allocator's own.
    QVERIFY2(plein > pages + pages / 10 && plein < pages + pages / 4,
             qPrintable(QStringLiteral("%1 pour %2").arg(plein).arg(pages)));

    QSqlQuery requete(base);
    QVERIFY(requete.exec(QStringLiteral("DELETE FROM InfosVMs WHERE idinfos <= 1000")));
    QVERIFY(requete.exec(QStringLiteral("DELETE FROM InfosHyperviseurs WHERE id <= 1000")));
    const qint64 moitie = plafond.occupation();
    QVERIFY2(moitie < plein * 6 / 10 && moitie > plein * 4 / 10, qPrintable(QStringLiteral("%1 sur %2").arg(moitie).arg(plein)));
    QCOMPARE(plafond.atteint(), false);
    plafond.fixer(moitie);
    QCOMPARE(plafond.atteint(), true);
}

void TestPlafondMemoire::suppression_data()
{
    QTest::addColumn<qint64>("plafond");
    QTest::addColumn<QString>("texte");
    // Reached by a batch, as the store sees it: just over the bound.
    QTest::newRow("plafond atteint") << qint64(3 * 1024 * 1024) << QStringLiteral("3 Mio");
    // A bound far below what the store holds.
    QTest::newRow("plafond trois fois depasse") << qint64(1024 * 1024) << QStringLiteral("1 Mio");
}

void TestPlafondMemoire::suppression()
{
    QFETCH(qint64, plafond);
    QFETCH(QString, texte);
    const QSqlDatabase base = QSqlDatabase::database(QStringLiteral("collecteur"), false);
    PlafondMemoire memoire(base);
    int dernier = 0;
    while (memoire.occupation() < 3 * 1024 * 1024) {
        inserer(dernier + 1, dernier + 20);
        dernier += 20;
    }
    memoire.fixer(plafond);

    const qint64 supprimes = memoire.supprimerPlusAnciens();

    const QString occupation = QStringLiteral("%1 pour un plafond de %2").arg(memoire.occupation()).arg(plafond);
    QVERIFY2(memoire.occupation() <= plafond * 3 / 4, qPrintable(occupation));
    // Well under three quarters would be dropping more than needed.
    QVERIFY2(memoire.occupation() > plafond * 3 / 5, qPrintable(occupation));
    verifierLignes(base, supprimes + 1, dernier);
    QCOMPARE(m_console->lignes(), QStringList{ligneSuppression(texte, supprimes)});

    // Within the hour, further drops are only counted, then told at a stop.
    inserer(dernier + 1, dernier + 500);
    const qint64 encore = memoire.supprimerPlusAnciens();
    QVERIFY(encore > 0);
    verifierLignes(base, supprimes + encore + 1, dernier + 500);
    QCOMPARE(m_console->lignes().size(), 1);
    memoire.signalerEnAttente();
    QCOMPARE(m_console->lignes().value(1), ligneSuppression(texte, encore));
    memoire.signalerEnAttente();
    QCOMPARE(m_console->lignes().size(), 2);
}

// Filled to the bound and emptied to three quarters again and again, the
// database keeps the size of the bound: its memory does not creep up.
void TestPlafondMemoire::memoireReutilisee()
{
    const QSqlDatabase base = QSqlDatabase::database(QStringLiteral("collecteur"), false);
    PlafondMemoire plafond(base);
    const qint64 plafondOctets = 2 * 1024 * 1024;
    plafond.fixer(plafondOctets);
    int numero = 0;
    for (int tour = 0; tour < 20; ++tour) {
        while (!plafond.atteint()) {
            inserer(numero + 1, numero + 50);
            numero += 50;
        }
        QVERIFY(plafond.supprimerPlusAnciens() > 0);
    }
    const qint64 taille = entier(base, QStringLiteral("PRAGMA page_count")) * entier(base, QStringLiteral("PRAGMA page_size"));
    QVERIFY2(taille < plafondOctets + plafondOctets / 10, QByteArray::number(taille));
    QCOMPARE(entier(base, QStringLiteral("SELECT max(time) FROM InfosHyperviseurs")), qint64(numero));
    QCOMPARE(m_console->lignes().size(), 1);
}

void TestPlafondMemoire::essais()
{
    PlafondMemoire plafond(QSqlDatabase::database(QStringLiteral("collecteur"), false));
    QVERIFY(plafond.essaiPermis());
    plafond.sauvegardeEchouee();
    QVERIFY(!plafond.essaiPermis());
    plafond.sauvegardeReussie();
    QVERIFY(plafond.essaiPermis());
}

void TestPlafondMemoire::plafondDuStockage_data()
{
    QTest::addColumn<bool>("sauvegardePossible");
    QTest::newRow("sauvegarde possible") << true;
    QTest::newRow("sauvegarde impossible") << false;
}

// The store at its bound backs up at once; when it cannot, it tries no
// more than once a minute and drops its oldest reports meanwhile.
void TestPlafondMemoire::plafondDuStockage()
{
    QFETCH(bool, sauvegardePossible);
    const qint64 plafondOctets = 2 * 1024 * 1024;
    m_store->limiterMemoire(plafondOctets);
    const QString dossier = QDir::current().absoluteFilePath(QStringLiteral("parti"));
    if (!sauvegardePossible) {
        QVERIFY(QDir::current().mkdir(QStringLiteral("parti")));
        QVERIFY(QDir::setCurrent(dossier));
        QVERIFY(QDir().rmdir(dossier));
    }

    // Several times what the bound holds, in batches as they come.
    const int total = 6000;
    for (int numero = 1; numero <= total; numero += 500)
        remplir(numero, numero + 499);
    QVERIFY(QDir::setCurrent(m_dossier->path()));

    const QSqlDatabase base = QSqlDatabase::database(QStringLiteral("collecteur"), false);
    const qint64 restants = entier(base, QStringLiteral("SELECT count(*) FROM InfosHyperviseurs"));
    const QString immediate = QStringLiteral("\"Mémoire du stockage au plafond (2 Mio, --memoire-max) : sauvegarde immédiate.\" ");
    const QStringList lignes = m_console->lignes();
    if (sauvegardePossible) {
        // Nothing lost: every report is in a file or still in memory.
        qint64 sauvegardes = 0;
        const QStringList fichiers = QDir::current().entryList({FichierSauvegarde::filtreNoms()}, QDir::Files);
        QVERIFY(fichiers.size() >= 2);
        for (const QString &fichier : fichiers) {
            QSqlDatabase lecture = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lecture"));
            lecture.setDatabaseName(fichier);
            QVERIFY(lecture.open());
            sauvegardes += entier(lecture, QStringLiteral("SELECT count(*) FROM InfosHyperviseurs"));
            lecture.close();
            lecture = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("lecture"));
        }
        QCOMPARE(sauvegardes + restants, qint64(total));
        QCOMPARE(lignes.size(), fichiers.size());
        QCOMPARE(lignes.filter(immediate).size(), fichiers.size());
        verifierLignes(base, total - restants + 1, total);
    } else {
        verifierLignes(base, total - restants + 1, total);
        QCOMPARE(lignes.size(), 4);
        QCOMPARE(lignes.value(0), immediate);
        QVERIFY2(lignes.value(1).startsWith(QStringLiteral("\"Échec de la sauvegarde dans collecteur"))
                     && lignes.value(1).contains(QStringLiteral(".db.en-cours, étape « création du fichier » : ")),
                 qPrintable(lignes.value(1)));
        QCOMPARE(lignes.value(2), QStringLiteral("\"Les lignes sont conservées pour la prochaine sauvegarde.\" "));
        // The first drop is told at once; those that follow within the hour
        // wait for the next line.
        const QRegularExpression suppression(QStringLiteral(
            "^\"Mémoire du stockage au plafond \\(2 Mio, --memoire-max\\) et sauvegarde impossible : (\\d+) rapport\\(s\\) "
            "parmi les plus anciens supprimé\\(s\\)\\.\" $"));
        const QRegularExpressionMatch premiere = suppression.match(lignes.value(3));
        QVERIFY2(premiere.hasMatch(), qPrintable(lignes.value(3)));
        m_console->vider();
        QVERIFY(m_store->sauvegarderFin());
        const QRegularExpressionMatch attente = suppression.match(m_console->lignes().value(0));
        QVERIFY2(attente.hasMatch(), qPrintable(m_console->lignes().join(QLatin1Char('\n'))));
        QCOMPARE(premiere.captured(1).toLongLong() + attente.captured(1).toLongLong() + restants, qint64(total));
    }
}

QTEST_GUILESS_MAIN(TestPlafondMemoire)
#include "tst_plafondmemoire.moc"
