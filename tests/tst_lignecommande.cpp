// SPDX-License-Identifier: MIT
#include "LigneCommande.h"

#include <QTest>

class TestLigneCommande : public QObject
{
    Q_OBJECT

private slots:
    void portUdp_data();
    void portUdp();
    void clientsMax_data();
    void clientsMax();
    void journal_data();
    void journal();
};

void TestLigneCommande::portUdp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("port");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("sans option") << QStringList{programme} << 55000;
    QTest::newRow("autres arguments") << QStringList{programme, QStringLiteral("-v"), QStringLiteral("port=7")} << 55000;
    QTest::newRow("12345") << QStringList{programme, QStringLiteral("--port=12345")} << 12345;
    QTest::newRow("vide") << QStringList{programme, QStringLiteral("--port=")} << 0;
    QTest::newRow("lettres") << QStringList{programme, QStringLiteral("--port=abc")} << 0;
    QTest::newRow("au-dela de 65535") << QStringList{programme, QStringLiteral("--port=70000")} << 0;
    QTest::newRow("65535") << QStringList{programme, QStringLiteral("--port=65535")} << 65535;
    QTest::newRow("six chiffres") << QStringList{programme, QStringLiteral("--port=123456")} << 12345;
    QTest::newRow("signe moins") << QStringList{programme, QStringLiteral("--port=-80")} << 80;
    QTest::newRow("zeros en tete") << QStringList{programme, QStringLiteral("--port=00080")} << 80;
    QTest::newRow("option dans un argument") << QStringList{programme, QStringLiteral("x--port=9")} << 9;
    QTest::newRow("chiffres apres du texte") << QStringList{programme, QStringLiteral("--port=ab12")} << 12;
    QTest::newRow("deux options") << QStringList{programme, QStringLiteral("--port=7"), QStringLiteral("--port=8")} << 7;
    QTest::newRow("majuscules") << QStringList{programme, QStringLiteral("--PORT=7")} << 55000;
}

void TestLigneCommande::portUdp()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, port);
    QCOMPARE(int(LigneCommande::portUdp(arguments)), port);
}

void TestLigneCommande::clientsMax_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("clients");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("sans option") << QStringList{programme, QStringLiteral("--port=1")} << 256;
    QTest::newRow("10") << QStringList{programme, QStringLiteral("--clients-max=10")} << 10;
    QTest::newRow("la derniere l'emporte")
        << QStringList{programme, QStringLiteral("--clients-max=10"), QStringLiteral("--clients-max=20")} << 20;
    QTest::newRow("zero") << QStringList{programme, QStringLiteral("--clients-max=0")} << -1;
    QTest::newRow("lettres") << QStringList{programme, QStringLiteral("--clients-max=dix")} << -1;
    QTest::newRow("vide") << QStringList{programme, QStringLiteral("--clients-max=")} << -1;
    QTest::newRow("trop grand") << QStringList{programme, QStringLiteral("--clients-max=70000")} << -1;
}

void TestLigneCommande::clientsMax()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, clients);
    QCOMPARE(LigneCommande::clientsMax(arguments, 256), clients);
}

void TestLigneCommande::journal_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("journal");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("par defaut") << QStringList{programme} << 1;
    QTest::newRow("aucun") << QStringList{programme, QStringLiteral("--journal=aucun")} << 0;
    QTest::newRow("valeur inconnue") << QStringList{programme, QStringLiteral("--journal=oui")} << -1;
}

void TestLigneCommande::journal()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, journal);
    QCOMPARE(LigneCommande::journal(arguments), journal);
}

QTEST_GUILESS_MAIN(TestLigneCommande)
#include "tst_lignecommande.moc"
