// SPDX-License-Identifier: MIT
#include "DatagrammeRapport.h"
#include "EmetteurRapports.h"
#include "JournalEtats.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

namespace {

// The journal's lines as it writes them on standard error.
class JournalLu
{
public:
    JournalEtats &journal() { return m_journal; }
    QStringList lignes() const
    {
        QStringList resultat;
        for (const QList<QVariant> &arguments : m_lignes)
            resultat << arguments.at(0).toString();
        return resultat;
    }

private:
    JournalEtats m_journal;
    QSignalSpy m_lignes{&m_journal, &JournalEtats::ecrite};
};

QStringList recus(QUdpSocket &socket)
{
    QStringList textes;
    while (socket.hasPendingDatagrams()) {
        QByteArray octets(int(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(octets.data(), octets.size());
        textes << QStringLiteral("%1 %2").arg(DatagrammeRapport::sequence(octets)).arg(DatagrammeRapport::texte(octets));
    }
    return textes;
}

quint16 portLibre()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    return socket.localPort();
}

} // namespace

class TestEmetteurRapports : public QObject
{
    Q_OBJECT

private slots:
    void numerotation();
    void nomResolu();
    void collecteurRefuse();
    void nomIntrouvable();
};

void TestEmetteurRapports::numerotation()
{
    QUdpSocket premier;
    QUdpSocket second;
    QVERIFY2(premier.bind(QHostAddress::LocalHost, 0), qPrintable(premier.errorString()));
    QVERIFY2(second.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(second.errorString()));
    JournalLu journal;
    EmetteurRapports emetteur({{QStringLiteral("127.0.0.1"), premier.localPort()}, {QStringLiteral("127.0.0.2"), second.localPort()}},
                              journal.journal());

    // The parts of a split report are numbered on, each sent to every collector.
    emetteur.envoyer({"un"});
    emetteur.envoyer({"deux", "trois"});
    const QStringList attendus{QStringLiteral("0 un"), QStringLiteral("1 deux"), QStringLiteral("2 trois")};
    QStringList auPremier;
    QStringList auSecond;
    QTRY_COMPARE((auPremier += recus(premier)), attendus);
    QTRY_COMPARE((auSecond += recus(second)), attendus);
    QCOMPARE(journal.lignes(), QStringList());
}

void TestEmetteurRapports::nomResolu()
{
    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, 0), qPrintable(collecteur.errorString()));
    JournalLu journal;
    EmetteurRapports emetteur({{QStringLiteral("localhost"), collecteur.localPort()}}, journal.journal());

    // Reports sent while the name is looked up go nowhere, but keep their numbers.
    QStringList arrivees;
    QDeadlineTimer limite(10000);
    for (quint32 n = 0; arrivees.isEmpty() && !limite.hasExpired(); ++n) {
        emetteur.envoyer({QByteArray::number(n)});
        QTest::qWait(20);
        arrivees += recus(collecteur);
    }
    QVERIFY(!arrivees.isEmpty());
    const QString numero = arrivees.first().section(QLatin1Char(' '), 0, 0);
    QCOMPARE(arrivees.first(), numero + QLatin1Char(' ') + numero);
    QCOMPARE(journal.lignes(), QStringList());
}

void TestEmetteurRapports::collecteurRefuse()
{
    const quint16 port = portLibre();
    JournalLu journal;
    EmetteurRapports emetteur({{QStringLiteral("127.0.0.1"), port}}, journal.journal());
    const QString refus = QStringLiteral("Envoi au collecteur 127.0.0.1:%1 impossible : Connection refused").arg(port);

    // The refusal of one report shows when the next is sent: the line comes
    // once, however long the collector stays away.
    for (int i = 0; i < 5; ++i) {
        emetteur.envoyer({"rien"});
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(journal.lignes(), QStringList{refus});

    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, port), qPrintable(collecteur.errorString()));
    const QString retour = QStringLiteral("Envoi au collecteur 127.0.0.1:%1 rétabli.").arg(port);
    QStringList arrivees;
    for (int i = 0; i < 3; ++i) {
        emetteur.envoyer({"de retour"});
        QCoreApplication::processEvents();
        QTRY_VERIFY(!(arrivees += recus(collecteur)).isEmpty());
    }
    QCOMPARE(journal.lignes(), (QStringList{refus, retour}));
    // Every report since the collector came back arrived, numbered on.
    QCOMPARE(arrivees, (QStringList{QStringLiteral("5 de retour"), QStringLiteral("6 de retour"), QStringLiteral("7 de retour")}));
}

void TestEmetteurRapports::nomIntrouvable()
{
    JournalLu journal;
    EmetteurRapports emetteur({{QStringLiteral("collecteur.invalid"), 55000}}, journal.journal());
    QTRY_COMPARE_WITH_TIMEOUT(journal.lignes().size(), 1, 30000);
    QVERIFY2(journal.lignes().at(0).startsWith(QStringLiteral("Collecteur collecteur.invalid:55000 introuvable : ")),
             qPrintable(journal.lignes().at(0)));
    QVERIFY2(journal.lignes().at(0).endsWith(QStringLiteral(" ; nouvelle recherche à chaque rapport.")),
             qPrintable(journal.lignes().at(0)));
    // Looked up again at each report, said once.
    emetteur.envoyer({"un"});
    emetteur.envoyer({"deux"});
    QTest::qWait(0);
    QCOMPARE(journal.lignes().size(), 1);
}

QTEST_GUILESS_MAIN(TestEmetteurRapports)
#include "tst_emetteurrapports.moc"
