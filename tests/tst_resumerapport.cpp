// SPDX-License-Identifier: MIT
#include "ResumeRapport.h"

#include <QTest>

class TestResumeRapport : public QObject
{
    Q_OBJECT

private slots:
    void ligne_data();
    void ligne();
};

void TestResumeRapport::ligne_data()
{
    QTest::addColumn<QString>("texte");
    QTest::addColumn<QString>("attendue");

    QTest::newRow("rapport complet")
        << QStringLiteral("{\"name\": \"hv-lab-02\", \"time\": 1309139574, \"cputemp\": 47.5, \"mbtemp\": 38.5,\n"
                          " \"cpu\": 23.4, \"ram\": 61.8, \"disk\": 40.2, \"network\": 3.75,\n"
                          " \"vms\": [{\"name\": \"vm-web-01\", \"state\": 1}, {\"name\": \"vm-db-01\"}]}")
        << QStringLiteral("hv-lab-02  2011-06-27 01:52:54 UTC  cpu 23.4 %  ram 61.8 %  2 VM");
    QTest::newRow("valeurs absentes") << QStringLiteral("{}") << QStringLiteral("?  ?  cpu ? %  ram ? %  ? VM");
    QTest::newRow("valeurs mal typees")
        << QStringLiteral("{\"name\": 3, \"time\": \"hier\", \"cpu\": \"12\", \"ram\": null, \"vms\": {}}")
        << QStringLiteral("?  ?  cpu ? %  ram ? %  ? VM");
    QTest::newRow("nom Latin-1, aucune VM")
        << QStringLiteral("{\"name\": \"hv-\u00e9t\u00e9\", \"time\": 0, \"cpu\": 100, \"ram\": 0.04, \"vms\": []}")
        << QStringLiteral("hv-\u00e9t\u00e9  1970-01-01 00:00:00 UTC  cpu 100.0 %  ram 0.0 %  0 VM");
    QTest::newRow("pas du JSON") << QStringLiteral("abc") << QStringLiteral("rapport illisible (3 caractères) : abc");
    QTest::newRow("texte vide") << QString() << QStringLiteral("rapport illisible (0 caractères) : ");
    QTest::newRow("tableau") << QStringLiteral("[1,\n2]") << QStringLiteral("rapport illisible (6 caractères) : [1, 2]");
    QTest::newRow("long texte illisible") << QString(100, QLatin1Char('z'))
                                          << QStringLiteral("rapport illisible (100 caractères) : ") + QString(80, QLatin1Char('z'))
                                                 + QStringLiteral("...");
}

void TestResumeRapport::ligne()
{
    QFETCH(QString, texte);
    QFETCH(QString, attendue);
    QCOMPARE(ResumeRapport::ligne(texte), attendue);
}

QTEST_GUILESS_MAIN(TestResumeRapport)
#include "tst_resumerapport.moc"
