// SPDX-License-Identifier: MIT
#include "ArretSignaux.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestArretSignaux : public QObject
{
    Q_OBJECT

private slots:
    void premierSignalSeulement_data();
    void premierSignalSeulement();
};

void TestArretSignaux::premierSignalSeulement_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestArretSignaux::premierSignalSeulement()
{
    QFETCH(int, signal);
    ArretSignaux arret;
    QVERIFY(arret.estActif());
    QSignalSpy demandes(&arret, &ArretSignaux::arretDemande);

    // Raised before the event loop gets control: it must wait, not be lost.
    QCOMPARE(::raise(signal), 0);
    QTRY_COMPARE(demandes.count(), 1);
    QCOMPARE(demandes.at(0).at(0).toInt(), signal);

    QCOMPARE(::raise(SIGTERM), 0);
    QCOMPARE(::raise(SIGINT), 0);
    QCoreApplication::processEvents();
    QCOMPARE(demandes.count(), 1);
}

QTEST_GUILESS_MAIN(TestArretSignaux)
#include "tst_arretsignaux.moc"
