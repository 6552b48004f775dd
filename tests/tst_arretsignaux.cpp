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
    void rechargement();
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

void TestArretSignaux::rechargement()
{
    ArretSignaux arret;
    arret.intercepterRechargement();
    QSignalSpy rechargements(&arret, &ArretSignaux::rechargementDemande);
    QSignalSpy demandes(&arret, &ArretSignaux::arretDemande);

    // Two SIGHUPs read together ask once; each later one asks again; none stops.
    QCOMPARE(::raise(SIGHUP), 0);
    QCOMPARE(::raise(SIGHUP), 0);
    QTRY_COMPARE(rechargements.count(), 1);
    QCOMPARE(::raise(SIGHUP), 0);
    QTRY_COMPARE(rechargements.count(), 2);
    QCOMPARE(demandes.count(), 0);

    // Raised together with a stop, the stop still comes.
    QCOMPARE(::raise(SIGHUP), 0);
    QCOMPARE(::raise(SIGTERM), 0);
    QTRY_COMPARE(demandes.count(), 1);
    QCOMPARE(demandes.at(0).at(0).toInt(), int(SIGTERM));
}

QTEST_GUILESS_MAIN(TestArretSignaux)
#include "tst_arretsignaux.moc"
