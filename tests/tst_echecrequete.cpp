// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "EchecRequete.h"
#include "FichierSauvegarde.h"
#include "LignesAttendues.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QVariantMap>

#include <memory>

namespace {

const QString nomConnexion = QStringLiteral("echec");

QString ligne(const QString &texte)
{
    return QLatin1Char('"') + texte + QStringLiteral("\" ");
}

} // namespace

class TestEchecRequete : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void signaler_data();
    void signaler();
    void texteAffiche();

private:
    std::unique_ptr<CaptureConsole> m_console;
};

// The store's schema, foreign keys enforced, on a connection of the test's.
void TestEchecRequete::initTestCase()
{
    QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomConnexion);
    base.setDatabaseName(QStringLiteral(":memory:"));
    QVERIFY2(base.open(), qPrintable(base.lastError().text()));
    QSqlQuery requete(base);
    const QStringList instructions = QStringList{QStringLiteral("PRAGMA foreign_keys = ON;")} + FichierSauvegarde::schema();
    for (const QString &instruction : instructions)
        QVERIFY2(requete.exec(instruction), qPrintable(requete.lastError().text()));
}

void TestEchecRequete::cleanupTestCase()
{
    QSqlDatabase::database(nomConnexion, false).close();
    QSqlDatabase::removeDatabase(nomConnexion);
}

void TestEchecRequete::init()
{
    m_console = std::make_unique<CaptureConsole>();
}

void TestEchecRequete::cleanup()
{
    m_console.reset();
}

void TestEchecRequete::signaler_data()
{
    QTest::addColumn<QString>("texte");
    QTest::addColumn<QVariantMap>("valeurs");
    QTest::addColumn<QStringList>("console");

    const QString insertion = QStringLiteral("INSERT INTO InfosHyperviseurs(name, time, cpu, cputemp) VALUES(:name, :time, :cpu, :cputemp)");
    QTest::newRow("reussite avec valeurs")
        << insertion
        << QVariantMap{{QStringLiteral(":name"), QStringLiteral("hv")}, {QStringLiteral(":time"), 5},
                       {QStringLiteral(":cpu"), 7}, {QStringLiteral(":cputemp"), 40}}
        << QStringList();
    QTest::newRow("reussite sans valeurs") << QStringLiteral("SELECT 1") << QVariantMap() << QStringList();
    QTest::newRow("echec sans valeurs")
        << QStringLiteral("SELECT  * FROM absente  WHERE x = ':name'") << QVariantMap()
        << QStringList{ligne(QStringLiteral("<erreur> : SELECT  * FROM absente  WHERE x = ':name'"))};
    QTest::newRow("attache impossible")
        << QStringLiteral("ATTACH DATABASE '/dossier/absent/collecteur:time.db' as sauvegarde") << QVariantMap()
        << QStringList{ligne(QStringLiteral("<erreur> : ATTACH DATABASE '/dossier/absent/collecteur:time.db' as sauvegarde"))};
    QTest::newRow("valeur nulle et prefixe commun")
        << insertion
        << QVariantMap{{QStringLiteral(":name"), QVariant()}, {QStringLiteral(":time"), 5},
                       {QStringLiteral(":cpu"), 7}, {QStringLiteral(":cputemp"), 40}}
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs(name, time, cpu, cputemp) VALUES(, 5, 7, 7temp)"))};
    QTest::newRow("valeur contenant une marque")
        << QStringLiteral("INSERT INTO InfosVMs(idinfos, name, state) VALUES(99, :name, :state)")
        << QVariantMap{{QStringLiteral(":name"), QStringLiteral("x:state")}, {QStringLiteral(":state"), 2}}
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name, state) VALUES(99, x:state, 2)"))};
    // Replacing the names one after the other would make each value's names
    // multiply the next value: a few kilobytes of report, gigabytes of text.
    QTest::newRow("valeurs contenant des marques en chaine")
        << insertion
        << QVariantMap{{QStringLiteral(":name"), QVariant()}, {QStringLiteral(":time"), QStringLiteral(":name:name")},
                       {QStringLiteral(":cpu"), QStringLiteral(":time:time")}, {QStringLiteral(":cputemp"), 40}}
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs(name, time, cpu, cputemp) "
                                            "VALUES(, :name:name, :time:time, :time:timetemp)"))};
}

void TestEchecRequete::signaler()
{
    QFETCH(QString, texte);
    QFETCH(QVariantMap, valeurs);
    QFETCH(QStringList, console);

    QSqlQuery requete(QSqlDatabase::database(nomConnexion, false));
    if (valeurs.isEmpty()) {
        requete.exec(texte);
    } else {
        requete.prepare(texte);
        for (auto valeur = valeurs.cbegin(); valeur != valeurs.cend(); ++valeur)
            requete.bindValue(valeur.key(), valeur.value());
        requete.exec();
    }

    QCOMPARE(EchecRequete::signaler(requete), !console.isEmpty());
    comparerLignes(m_console->lignes(), console);
}

// A VM insertion binds the hypervisor row's id, and the line shows it
// written in, as in the statement a report without a kept one prepares.
void TestEchecRequete::texteAffiche()
{
    QSqlQuery requete(QSqlDatabase::database(nomConnexion, false));
    QVERIFY(requete.prepare(QStringLiteral("INSERT INTO InfosVMs(idinfos, name) VALUES(:idinfos, :name)")));
    requete.bindValue(QStringLiteral(":idinfos"), 99);
    requete.bindValue(QStringLiteral(":name"), QStringLiteral("vm:idinfos"));
    QVERIFY(!requete.exec());

    QVERIFY(EchecRequete::signaler(requete, QStringLiteral("INSERT INTO InfosVMs(idinfos, name) VALUES(99, :name)")));
    comparerLignes(m_console->lignes(),
                   {ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(99, vm:idinfos)"))});
}

QTEST_GUILESS_MAIN(TestEchecRequete)
#include "tst_echecrequete.moc"
