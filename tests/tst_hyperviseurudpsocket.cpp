// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "HyperviseurUDPSocket.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QRegularExpression>
#include <QUdpSocket>

#include <limits>

#include <memory>

namespace {

QByteArray datagramme(quint32 sequence, const QByteArray &texte = QByteArray())
{
    QByteArray octets;
    octets.append(char(sequence >> 24)).append(char(sequence >> 16)).append(char(sequence >> 8)).append(char(sequence));
    return octets + texte;
}

QString ligneReception(const QString &adresse, quint32 sequence)
{
    return QStringLiteral("Réception de  \"%1  SeqNb:%2\" ").arg(adresse).arg(sequence);
}

QString lignePerte(const QString &adresse, int perdus)
{
    return QStringLiteral("\"%1\" :  \"%2 paquet(s) perdu(s).\" ").arg(adresse).arg(perdus);
}

// One agent: a UDP socket bound to its own loopback address.
class Agent
{
public:
    explicit Agent(const QString &adresse)
    {
        QVERIFY2(m_socket.bind(QHostAddress(adresse), 0), qPrintable(m_socket.errorString()));
    }
    void envoyer(const QByteArray &octets, quint16 port)
    {
        QCOMPARE(m_socket.writeDatagram(octets, QHostAddress::LocalHost, port), qint64(octets.size()));
    }

private:
    QUdpSocket m_socket;
};

} // namespace

class TestHyperviseurUDPSocket : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sequences_data();
    void sequences();
    void texteDuRapport_data();
    void texteDuRapport();
    void deuxAgents();
    void deuxAgentsSurUneAdresse();
    void toutLireEnUnAppel();
    void threadDeReception();
    void tamponReception();
    void pertesDuSysteme();

private:
    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<HyperviseurUDPSocket> m_recepteur;
    quint16 m_port = 0;
};

void TestHyperviseurUDPSocket::init()
{
    m_console = std::make_unique<CaptureConsole>();
    m_recepteur = std::make_unique<HyperviseurUDPSocket>(0);
    QVERIFY2(m_recepteur->state() == QAbstractSocket::BoundState, qPrintable(m_recepteur->errorString()));
    m_port = m_recepteur->localPort();
    QVERIFY(m_port != 0);
    m_console->vider();
}

void TestHyperviseurUDPSocket::cleanup()
{
    m_recepteur.reset();
    m_console.reset();
}

void TestHyperviseurUDPSocket::sequences_data()
{
    QTest::addColumn<QList<quint32>>("numeros");
    QTest::addColumn<QList<int>>("pertesEmises");
    // For each datagram after the first: the loss line's count, or no line.
    QTest::addColumn<QList<QVariant>>("lignesPerte");

    const QVariant aucune;
    QTest::newRow("en ordre") << QList<quint32>{41, 42, 43} << QList<int>{} << QList<QVariant>{aucune, aucune};
    QTest::newRow("trou") << QList<quint32>{41, 45} << QList<int>{3} << QList<QVariant>{3};
    QTest::newRow("repetition") << QList<quint32>{41, 41} << QList<int>{} << QList<QVariant>{-1};
    QTest::newRow("retour en arriere puis suite")
        << QList<quint32>{41, 30, 31} << QList<int>{} << QList<QVariant>{-12, aucune};
    QTest::newRow("zero puis un") << QList<quint32>{41, 0, 1} << QList<int>{} << QList<QVariant>{aucune, aucune};
    QTest::newRow("tour avec perte") << QList<quint32>{4294967294u, 1} << QList<int>{2} << QList<QVariant>{2};
    QTest::newRow("tour sans perte") << QList<quint32>{4294967295u, 0} << QList<int>{} << QList<QVariant>{aucune};
    QTest::newRow("grand saut") << QList<quint32>{1, 2147483650u} << QList<int>{} << QList<QVariant>{int(-2147483648LL)};
}

void TestHyperviseurUDPSocket::sequences()
{
    QFETCH(QList<quint32>, numeros);
    QFETCH(QList<int>, pertesEmises);
    QFETCH(QList<QVariant>, lignesPerte);

    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    QSignalSpy pertes(m_recepteur.get(), &HyperviseurUDPSocket::paquetsPerdus);
    const QString adresse = QStringLiteral("127.0.0.1");
    Agent agent(adresse);

    QStringList attendues;
    for (int i = 0; i < numeros.size(); ++i) {
        agent.envoyer(datagramme(numeros.at(i), "{}"), m_port);
        QTRY_COMPARE(rapports.count(), i + 1);
        if (i > 0 && lignesPerte.at(i - 1).isValid())
            attendues << lignePerte(adresse, lignesPerte.at(i - 1).toInt());
        attendues << ligneReception(adresse, numeros.at(i));
    }

    QCOMPARE(m_console->lignes(), attendues);
    QList<int> emises;
    for (const QList<QVariant> &emission : pertes)
        emises << emission.at(0).toInt();
    QCOMPARE(emises, pertesEmises);
}

void TestHyperviseurUDPSocket::texteDuRapport_data()
{
    QTest::addColumn<QByteArray>("octets");
    QTest::addColumn<quint32>("sequence");
    QTest::addColumn<QString>("texte");

    QTest::newRow("rapport") << datagramme(42, "{\"name\":\"hv\"}") << quint32(42) << QStringLiteral("{\"name\":\"hv\"}");
    QTest::newRow("vide") << QByteArray() << quint32(0) << QString();
    QTest::newRow("deux octets") << QByteArray("\x01\x02", 2) << quint32(258) << QString();
    QTest::newRow("trois octets") << QByteArray("\x01\x02\x03", 3) << quint32(66051) << QString();
    QTest::newRow("quatre octets") << datagramme(7) << quint32(7) << QString();
    QTest::newRow("octet nul") << datagramme(1, QByteArray("ab\0cd", 5)) << quint32(1) << QStringLiteral("ab");
    QTest::newRow("octet nul en tete") << datagramme(1, QByteArray("\0cd", 3)) << quint32(1) << QString();
    QTest::newRow("octet E9") << datagramme(1, "caf\xe9") << quint32(1) << QStringLiteral("caf\u00e9");
    QTest::newRow("octet FF") << datagramme(1, "\xff") << quint32(1) << QStringLiteral("\u00ff");
    QTest::newRow("guillemets") << datagramme(1, "\"a\\b\"") << quint32(1) << QStringLiteral("\"a\\b\"");
}

void TestHyperviseurUDPSocket::texteDuRapport()
{
    QFETCH(QByteArray, octets);
    QFETCH(quint32, sequence);
    QFETCH(QString, texte);

    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    Agent agent(QStringLiteral("127.0.0.1"));
    agent.envoyer(octets, m_port);
    QTRY_COMPARE(rapports.count(), 1);

    QCOMPARE(rapports.at(0).at(0).toString(), texte);
    QCOMPARE(m_console->lignes(), QStringList{ligneReception(QStringLiteral("127.0.0.1"), sequence)});
}

void TestHyperviseurUDPSocket::deuxAgents()
{
    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    QSignalSpy pertes(m_recepteur.get(), &HyperviseurUDPSocket::paquetsPerdus);
    Agent premier(QStringLiteral("127.0.0.1"));
    Agent second(QStringLiteral("127.0.0.2"));

    QStringList attendues;
    for (quint32 numero = 1; numero <= 3; ++numero) {
        premier.envoyer(datagramme(numero, "a"), m_port);
        QTRY_COMPARE(rapports.count(), int(2 * numero - 1));
        second.envoyer(datagramme(numero, "b"), m_port);
        QTRY_COMPARE(rapports.count(), int(2 * numero));
        attendues << ligneReception(QStringLiteral("127.0.0.1"), numero)
                  << ligneReception(QStringLiteral("127.0.0.2"), numero);
    }
    QCOMPARE(m_console->lignes(), attendues);
    QCOMPARE(pertes.count(), 0);
}

void TestHyperviseurUDPSocket::deuxAgentsSurUneAdresse()
{
    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    QSignalSpy pertes(m_recepteur.get(), &HyperviseurUDPSocket::paquetsPerdus);
    const QString adresse = QStringLiteral("127.0.0.3");
    Agent premier(adresse);
    Agent second(adresse);

    premier.envoyer(datagramme(10), m_port);
    QTRY_COMPARE(rapports.count(), 1);
    second.envoyer(datagramme(1), m_port);
    QTRY_COMPARE(rapports.count(), 2);
    premier.envoyer(datagramme(11), m_port);
    QTRY_COMPARE(rapports.count(), 3);

    QCOMPARE(m_console->lignes(), (QStringList{ligneReception(adresse, 10), lignePerte(adresse, -10),
                                               ligneReception(adresse, 1), lignePerte(adresse, 9),
                                               ligneReception(adresse, 11)}));
    QCOMPARE(pertes.count(), 1);
    QCOMPARE(pertes.at(0).at(0).toInt(), 9);
}

void TestHyperviseurUDPSocket::toutLireEnUnAppel()
{
    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    QSignalSpy pretALire(m_recepteur.get(), &QUdpSocket::readyRead);
    QList<int> lusALaFin;
    connect(m_recepteur.get(), &HyperviseurUDPSocket::datagrammesLus, this,
            [&] { lusALaFin << int(rapports.count()); });
    Agent agent(QStringLiteral("127.0.0.1"));

    // Loopback delivers within the send call, so all of them wait in the
    // socket before the event loop gets to run once: more than one batch of
    // the reads that take several datagrams at a time.
    const int nombre = 40;
    for (quint32 numero = 1; numero <= nombre; ++numero)
        agent.envoyer(datagramme(numero, QByteArray::number(numero)), m_port);

    QTRY_COMPARE(rapports.count(), nombre);
    QCOMPARE(pretALire.count(), 1);
    // Signalled once, after the last of them.
    QCOMPARE(lusALaFin, QList<int>{nombre});
    for (int i = 0; i < nombre; ++i)
        QCOMPARE(rapports.at(i).at(0).toString(), QString::number(i + 1));
}

void TestHyperviseurUDPSocket::threadDeReception()
{
    QThread thread;
    m_recepteur->moveToThread(&thread);
    QStringList recus;
    QObject recepteurPrincipal;
    connect(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes, &recepteurPrincipal,
            [&recus](const QString &donnees) { recus << donnees; });
    thread.start();

    Agent agent(QStringLiteral("127.0.0.1"));
    agent.envoyer(datagramme(1, "un"), m_port);
    agent.envoyer(datagramme(2, "deux"), m_port);
    QTRY_COMPARE(recus, (QStringList{QStringLiteral("un"), QStringLiteral("deux")}));

    // The receiver must be destroyed in its own thread.
    QObject::connect(&thread, &QThread::finished, m_recepteur.release(), &QObject::deleteLater);
    thread.quit();
    QVERIFY(thread.wait(10000));
}

void TestHyperviseurUDPSocket::tamponReception()
{
    QVERIFY(m_recepteur->reglerTamponReception(64 * 1024) >= 64 * 1024);
    QCOMPARE(m_console->lignes(), QStringList());

    const int accorde = m_recepteur->reglerTamponReception(std::numeric_limits<int>::max());
    QVERIFY(accorde > 0);
    QVERIFY(accorde < std::numeric_limits<int>::max());
    QCOMPARE(m_console->lignes(),
             QStringList{QStringLiteral("\"Tampon de réception UDP limité à %1 octets au lieu de 2147483647 : "
                                        "des datagrammes risquent d'être perdus en rafale (voir net.core.rmem_max).\" ")
                             .arg(accorde)});
}

void TestHyperviseurUDPSocket::pertesDuSysteme()
{
    m_recepteur->reglerTamponReception(4096);
    m_console->vider();
    QSignalSpy rapports(m_recepteur.get(), &HyperviseurUDPSocket::nouvellesDonnes);
    Agent agent(QStringLiteral("127.0.0.1"));

    // Far more than a 4 KiB buffer holds, sent before the receiver reads any.
    const int envoyes = 200;
    for (int numero = 1; numero <= envoyes; ++numero)
        agent.envoyer(datagramme(quint32(numero), QByteArray(1000, 'x')), m_port);

    static const QRegularExpression ligneSysteme(
        QStringLiteral("^\"(\\d+) datagramme\\(s\\) perdu\\(s\\) par le système avant lecture \\(tampon de réception plein\\)\\.\" $"));
    const auto perdusAnnonces = [this] {
        int total = 0;
        for (const QString &ligne : m_console->lignes())
            total += ligneSysteme.match(ligne).captured(1).toInt();
        return total;
    };
    QTRY_VERIFY(perdusAnnonces() > 0);
    QTRY_COMPARE(rapports.count() + perdusAnnonces(), envoyes);
}

QTEST_GUILESS_MAIN(TestHyperviseurUDPSocket)
#include "tst_hyperviseurudpsocket.moc"
