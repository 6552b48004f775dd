// SPDX-License-Identifier: MIT
#include "AfficheurSocketThread.h"
#include "CaptureConsole.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <memory>

namespace {

// Hands out the descriptors it accepts instead of making sockets of them.
class ServeurTest : public QTcpServer
{
public:
    QList<qintptr> descripteurs;

protected:
    void incomingConnection(qintptr socketDescriptor) override { descripteurs << socketDescriptor; }
};

QString ligneTransmission(const QString &adresse)
{
    const auto identifiant = reinterpret_cast<quintptr>(QThread::currentThreadId());
    return QStringLiteral("Thread:  0x%1 . Transmission des données à  \"%2\" ")
        .arg(QString::number(identifiant, 16), adresse);
}

QStringList repeter(int nombre, const QString &ligne)
{
    QStringList lignes;
    for (int i = 0; i < nombre; ++i)
        lignes << ligne;
    return lignes;
}

QByteArray octetsHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class TestAfficheurSocketThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void trames_data();
    void trames();
    void rapportApresDepartDuClient();
    void donneesDuClientSansEffet();
    void clientQuiNeLitPas();
    void detectionPairDisparu_data();
    void detectionPairDisparu();
    void priseEnChargeImpossible();
    void fermeture_data();
    void fermeture();

private:
    // A connected client and, on the collector's side, the connection object
    // built from the accepted descriptor.
    QPointer<AfficheurSocketThread> connecter(QTcpSocket &client);

    std::unique_ptr<CaptureConsole> m_console;
    ServeurTest m_serveur;
};

void TestAfficheurSocketThread::initTestCase()
{
    QVERIFY2(m_serveur.listen(QHostAddress::LocalHost, 0), qPrintable(m_serveur.errorString()));
}

void TestAfficheurSocketThread::init()
{
    m_serveur.descripteurs.clear();
    m_console = std::make_unique<CaptureConsole>();
}

void TestAfficheurSocketThread::cleanup()
{
    // Deletions that the connection objects scheduled for themselves.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QStringList avertissements = m_console->lignes().filter(QStringLiteral("[avertissement]"));
    m_console.reset();
    QVERIFY2(avertissements.isEmpty(), qPrintable(avertissements.join(QLatin1Char('\n'))));
}

QPointer<AfficheurSocketThread> TestAfficheurSocketThread::connecter(QTcpSocket &client)
{
    client.connectToHost(QHostAddress::LocalHost, m_serveur.serverPort());
    if (!client.waitForConnected(10000)) {
        qWarning("connexion impossible : %s", qPrintable(client.errorString()));
        return nullptr;
    }
    const int avant = m_serveur.descripteurs.size();
    if (!QTest::qWaitFor([&] { return m_serveur.descripteurs.size() > avant; }, 10000))
        return nullptr;
    return new AfficheurSocketThread(m_serveur.descripteurs.last());
}

void TestAfficheurSocketThread::trames_data()
{
    QTest::addColumn<QStringList>("rapports");
    QTest::addColumn<QByteArray>("octets");

    QTest::newRow("abc") << QStringList{QStringLiteral("abc")} << octetsHex("0000000301616263");
    QTest::newRow("texte vide") << QStringList{QString()} << octetsHex("0000000001");
    QTest::newRow("300 unites") << QStringList{QString(300, QLatin1Char('x'))}
                                << octetsHex("0000012C01") + QByteArray(300, 'x');
    QTest::newRow("e accent aigu") << QStringList{QStringLiteral("caf\u00e9")} << octetsHex("0000000401636166E9");
    QTest::newRow("euro") << QStringList{QStringLiteral("1\u20ac")} << octetsHex("0000000201313F");
    QTest::newRow("paire de substitution") << QStringList{QStringLiteral("\U0001F600")} << octetsHex("00000002013F3F");
    QTest::newRow("deux rapports") << QStringList{QStringLiteral("{\"a\":1}"), QStringLiteral("b")}
                                   << octetsHex("00000007017B2261223A317D") + octetsHex("000000010162");
}

void TestAfficheurSocketThread::trames()
{
    QFETCH(QStringList, rapports);
    QFETCH(QByteArray, octets);

    QTcpSocket client;
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);

    for (const QString &rapport : rapports)
        connexion->receptionDonnees(rapport);

    QByteArray recus;
    QTRY_VERIFY((recus += client.readAll()).size() >= octets.size());
    QCOMPARE(recus.toHex(' '), octets.toHex(' '));
    QCOMPARE(m_console->lignes(), repeter(rapports.size(), ligneTransmission(QStringLiteral("127.0.0.1"))));

    client.disconnectFromHost();
    QTRY_VERIFY(connexion.isNull());
}

void TestAfficheurSocketThread::rapportApresDepartDuClient()
{
    QTcpSocket client;
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);
    // Kept alive past its client's departure, as a report already queued for
    // it in its thread would find it.
    QVERIFY(disconnect(connexion.data(), &QAbstractSocket::disconnected, connexion.data(), &QObject::deleteLater));

    connexion->receptionDonnees(QStringLiteral("avant"));
    QTRY_COMPARE(client.bytesAvailable(), qint64(10));
    client.disconnectFromHost();
    QTRY_COMPARE(connexion->state(), QAbstractSocket::UnconnectedState);
    connexion->receptionDonnees(QStringLiteral("apres"));

    QCOMPARE(m_console->lignes(),
             (QStringList{ligneTransmission(QStringLiteral("127.0.0.1")), ligneTransmission(QString())}));
    QCOMPARE(connexion->bytesToWrite(), qint64(0));
    delete connexion;
}

void TestAfficheurSocketThread::donneesDuClientSansEffet()
{
    QTcpSocket client;
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);
    QSignalSpy arrivees(connexion.data(), &QIODevice::readyRead);

    client.write(QByteArray(256 * 1024, 'z'));
    QTRY_VERIFY(client.bytesToWrite() == 0 && arrivees.count() > 0);
    QCOMPARE(connexion->bytesAvailable(), qint64(0));

    connexion->receptionDonnees(QStringLiteral("abc"));
    QTRY_COMPARE(client.bytesAvailable(), qint64(8));
    QCOMPARE(client.readAll(), octetsHex("0000000301616263"));
    delete connexion;
}

void TestAfficheurSocketThread::clientQuiNeLitPas()
{
    QTcpSocket client;
    client.setReadBufferSize(1);
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);

    const QString rapport(1024 * 1024, QLatin1Char('x'));
    const qint64 trame = 5 + rapport.size();
    qint64 plusGrandReste = 0;
    int envoyes = 0;
    while (connexion && connexion->state() == QAbstractSocket::ConnectedState && envoyes < 200) {
        plusGrandReste = qMax(plusGrandReste, connexion->bytesToWrite());
        connexion->receptionDonnees(rapport);
        ++envoyes;
        // Lets the socket hand what it can to the system between reports.
        QCoreApplication::processEvents();
    }

    QVERIFY(connexion);
    QCOMPARE(connexion->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(connexion->bytesToWrite(), qint64(0));
    connexion->receptionDonnees(rapport);
    QVERIFY2(plusGrandReste <= AfficheurSocketThread::TailleMaxEnAttente, QByteArray::number(plusGrandReste));
    QVERIFY2(plusGrandReste + trame > AfficheurSocketThread::TailleMaxEnAttente, QByteArray::number(plusGrandReste));

    const QString coupure = QStringLiteral("Client trop lent, connexion fermée :  \"127.0.0.1:%1\" ").arg(client.localPort());
    QStringList attendues = repeter(envoyes, ligneTransmission(QStringLiteral("127.0.0.1")));
    attendues << coupure << ligneTransmission(QString());
    QCOMPARE(m_console->lignes(), attendues);

    QTRY_VERIFY(connexion.isNull());
}

void TestAfficheurSocketThread::detectionPairDisparu_data()
{
    QTest::addColumn<int>("niveau");
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");

    QTest::newRow("keep-alive actif") << int(SOL_SOCKET) << int(SO_KEEPALIVE) << 1 << 1;
    QTest::newRow("inactivite avant sondage") << int(IPPROTO_TCP) << int(TCP_KEEPIDLE) << 30 << 600;
    QTest::newRow("intervalle des sondes") << int(IPPROTO_TCP) << int(TCP_KEEPINTVL) << 1 << 120;
    QTest::newRow("nombre de sondes") << int(IPPROTO_TCP) << int(TCP_KEEPCNT) << 1 << 10;
    QTest::newRow("delai d'acquittement") << int(IPPROTO_TCP) << int(TCP_USER_TIMEOUT) << 30000 << 600000;
    // Not an option of peer detection, but of the same socket: frames must
    // not wait for the acknowledgement of the one before.
    QTest::newRow("trames sans attente") << int(IPPROTO_TCP) << int(TCP_NODELAY) << 1 << 1;
}

void TestAfficheurSocketThread::detectionPairDisparu()
{
    QFETCH(int, niveau);
    QFETCH(int, option);
    QFETCH(int, minimum);
    QFETCH(int, maximum);

    QTcpSocket client;
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);

    int valeur = -1;
    socklen_t taille = sizeof valeur;
    QCOMPARE(::getsockopt(int(connexion->socketDescriptor()), niveau, option, &valeur, &taille), 0);
    QVERIFY2(valeur >= minimum && valeur <= maximum, QByteArray::number(valeur));
    delete connexion;
}

void TestAfficheurSocketThread::priseEnChargeImpossible()
{
    QPointer<AfficheurSocketThread> connexion = new AfficheurSocketThread(-1);
    QCOMPARE(connexion->state(), QAbstractSocket::UnconnectedState);

    connexion->receptionDonnees(QStringLiteral("abc"));
    QCOMPARE(m_console->lignes(), QStringList{ligneTransmission(QString())});

    // As the server does it: the deletion scheduled by the constructor
    // happens in the connection thread and ends it.
    QThread thread;
    connexion->moveToThread(&thread);
    connect(connexion.data(), &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
    thread.start();
    QVERIFY(thread.wait(10000));
    QVERIFY(connexion.isNull());
}

void TestAfficheurSocketThread::fermeture_data()
{
    QTest::addColumn<int>("nombreRapports");
    QTest::addColumn<bool>("toutRecu");

    QTest::newRow("tout part avant la fermeture") << 3 << true;
    // Far beyond what the system buffers, and nobody reads while it waits.
    QTest::newRow("client qui ne lit pas") << 24 << false;
}

void TestAfficheurSocketThread::fermeture()
{
    QFETCH(int, nombreRapports);
    QFETCH(bool, toutRecu);

    QTcpSocket client;
    QPointer<AfficheurSocketThread> connexion = connecter(client);
    QVERIFY(connexion);
    const QString rapport(toutRecu ? 10 : 1024 * 1024, QLatin1Char('x'));
    for (int i = 0; i < nombreRapports; ++i)
        connexion->receptionDonnees(rapport);

    connexion->fermer();
    QCOMPARE(connexion->state(), QAbstractSocket::UnconnectedState);

    QByteArray recus;
    QTRY_VERIFY((recus += client.readAll(), client.state() == QAbstractSocket::UnconnectedState));
    recus += client.readAll();
    const qint64 attendus = nombreRapports * (5 + qint64(rapport.size()));
    if (toutRecu)
        QCOMPARE(recus.size(), attendus);
    else
        QVERIFY(recus.size() < attendus);
    QTRY_VERIFY(connexion.isNull());
}

QTEST_GUILESS_MAIN(TestAfficheurSocketThread)
#include "tst_afficheursocketthread.moc"
