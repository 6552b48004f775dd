// SPDX-License-Identifier: MIT
#include "AfficheurSocket.h"
#include "AfficheurSocketThread.h"
#include "CaptureConsole.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <memory>

namespace {

const QRegularExpression LigneConnexion(QStringLiteral("^Nouvelle connexion :  \\d+ $"));
const QRegularExpression LigneTransmission(
    QStringLiteral("^Thread:  0x([0-9a-f]+) \\. Transmission des données à  \"(.*)\" $"));

// A display client on loopback that decodes the frames it receives.
class ClientAffichage
{
public:
    explicit ClientAffichage(quint16 port, bool lit = true)
    {
        // A client that does not read: the socket stops taking data from the
        // system once this tiny buffer is full.
        if (!lit)
            m_socket.setReadBufferSize(1);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY2(m_socket.waitForConnected(10000), qPrintable(m_socket.errorString()));
    }

    QStringList rapports()
    {
        m_tampon += m_socket.readAll();
        while (m_tampon.size() >= 5) {
            const qint32 longueur = qFromBigEndian<qint32>(m_tampon.constData());
            if (m_tampon.at(4) != 1 || longueur < 0) {
                m_rapports << QStringLiteral("<trame invalide>");
                m_tampon.clear();
                break;
            }
            if (m_tampon.size() < 5 + longueur)
                break;
            m_rapports << QString::fromLatin1(m_tampon.mid(5, longueur));
            m_tampon.remove(0, 5 + longueur);
        }
        return m_rapports;
    }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_tampon;
    QStringList m_rapports;
};

} // namespace

class TestAfficheurSocket : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sansClient();
    void plusieursClients();
    void connexionEphemere();
    void clientLentCoupe();
    void ecouteImpossible();
    void fermetureDesConnexions();
    void trameEncodeeUneFois();
    void clientsPermis_data();
    void clientsPermis();
    void limiteDeClients();
    void budgetCommun();

private:
    int lignesConnexion() const;
    QStringList lignesTransmission() const;
    int threadsDeConnexion() const;

    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<AfficheurSocket> m_serveur;
    quint16 m_port = 0;
};

void TestAfficheurSocket::init()
{
    m_console = std::make_unique<CaptureConsole>();
    m_serveur = std::make_unique<AfficheurSocket>(0);
    QVERIFY2(m_serveur->isListening(), qPrintable(m_serveur->errorString()));
    QCOMPARE(m_serveur->serverAddress(), QHostAddress(QHostAddress::AnyIPv4));
    m_port = m_serveur->serverPort();
}

void TestAfficheurSocket::cleanup()
{
    // Deleting the server with clients still connected must stop their
    // threads quietly.
    m_serveur.reset();
    const QStringList avertissements = m_console->lignes().filter(QStringLiteral("[avertissement]"));
    m_console.reset();
    QVERIFY2(avertissements.isEmpty(), qPrintable(avertissements.join(QLatin1Char('\n'))));
}

int TestAfficheurSocket::lignesConnexion() const
{
    int nombre = 0;
    for (const QString &ligne : m_console->lignes())
        nombre += LigneConnexion.match(ligne).hasMatch() ? 1 : 0;
    return nombre;
}

QStringList TestAfficheurSocket::lignesTransmission() const
{
    QStringList lignes;
    for (const QString &ligne : m_console->lignes()) {
        if (ligne.startsWith(QLatin1String("Thread:")))
            lignes << ligne;
    }
    return lignes;
}

int TestAfficheurSocket::threadsDeConnexion() const
{
    return m_serveur->findChildren<QThread *>().size();
}

void TestAfficheurSocket::sansClient()
{
    QSignalSpy emis(m_serveur.get(), &AfficheurSocket::nouvellesDonnees);
    m_serveur->receptionDonnees(QStringLiteral("{\"name\":\"hv\"}"));
    QCOMPARE(emis.count(), 1);
    QCOMPARE(emis.at(0).at(0).toString(), QStringLiteral("{\"name\":\"hv\"}"));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestAfficheurSocket::trameEncodeeUneFois()
{
    ClientAffichage premier(m_port);
    ClientAffichage second(m_port);
    ClientAffichage troisieme(m_port);
    QTRY_COMPARE(lignesConnexion(), 3);
    QSignalSpy trames(m_serveur.get(), &AfficheurSocket::nouvelleTrame);
    QByteArray octets[3];
    m_serveur->receptionDonnees(QStringLiteral("caf\u00e9"));
    QCOMPARE(trames.count(), 1);
    QCOMPARE(trames.at(0).at(0).toByteArray().toHex(' '), QByteArrayLiteral("00 00 00 04 01 63 61 66 e9"));

    // The same bytes on every connection, as each would have encoded them.
    ClientAffichage *clients[] = {&premier, &second, &troisieme};
    for (int i = 0; i < 3; ++i) {
        QTRY_VERIFY((octets[i] += clients[i]->socket().readAll()).size() >= 9);
        QCOMPARE(octets[i], trames.at(0).at(0).toByteArray());
    }
    QTRY_COMPARE(lignesTransmission().size(), 3);
}

void TestAfficheurSocket::plusieursClients()
{
    ClientAffichage premier(m_port);
    ClientAffichage second(m_port);
    QTRY_COMPARE(lignesConnexion(), 2);

    const QStringList debut{QStringLiteral("un"), QString(), QStringLiteral("caf\u00e9")};
    for (const QString &rapport : debut)
        m_serveur->receptionDonnees(rapport);
    QTRY_COMPARE(premier.rapports(), debut);
    QTRY_COMPARE(second.rapports(), debut);

    ClientAffichage tardif(m_port);
    QTRY_COMPARE(lignesConnexion(), 3);
    m_serveur->receptionDonnees(QStringLiteral("quatre"));
    QTRY_COMPARE(tardif.rapports(), QStringList{QStringLiteral("quatre")});
    QTRY_COMPARE(premier.rapports(), debut + QStringList{QStringLiteral("quatre")});
    QTRY_COMPARE(second.rapports(), debut + QStringList{QStringLiteral("quatre")});

    // One line per report and client, each from the client's own thread.
    QTRY_COMPARE(lignesTransmission().size(), 2 * 4 + 1);
    QSet<QString> threads;
    for (const QString &ligne : lignesTransmission()) {
        const QRegularExpressionMatch lu = LigneTransmission.match(ligne);
        QVERIFY2(lu.hasMatch(), qPrintable(ligne));
        QCOMPARE(lu.captured(2), QStringLiteral("127.0.0.1"));
        threads << lu.captured(1);
    }
    QCOMPARE(threads.size(), 3);
    QVERIFY(!threads.contains(QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16)));
    QCOMPARE(threadsDeConnexion(), 3);
}

void TestAfficheurSocket::connexionEphemere()
{
    {
        ClientAffichage client(m_port);
        client.socket().disconnectFromHost();
    }
    QTRY_COMPARE(lignesConnexion(), 1);
    QTRY_COMPARE(threadsDeConnexion(), 0);

    m_serveur->receptionDonnees(QStringLiteral("personne"));
    QCoreApplication::processEvents();
    QCOMPARE(lignesTransmission(), QStringList());
}

void TestAfficheurSocket::clientLentCoupe()
{
    ClientAffichage lecteur(m_port);
    ClientAffichage endormi(m_port, false);
    QTRY_COMPARE(lignesConnexion(), 2);

    const QString coupure = QStringLiteral("Client trop lent, connexion fermée :  \"127.0.0.1:%1\" ")
                                .arg(endormi.socket().localPort());
    const qint64 taille = 1024 * 1024;
    QStringList envoyes;
    // Every report waits for the reading client, so only the other one can
    // fall behind.
    while (!m_console->lignes().contains(coupure) && envoyes.size() < 200) {
        envoyes << QString(int(taille), QLatin1Char('a' + envoyes.size() % 26));
        m_serveur->receptionDonnees(envoyes.last());
        QTRY_COMPARE_WITH_TIMEOUT(lecteur.rapports().size(), envoyes.size(), 20000);
    }

    QVERIFY(m_console->lignes().contains(coupure));
    QVERIFY2(envoyes.size() * (5 + taille) > AfficheurSocketThread::TailleMaxEnAttente,
             QByteArray::number(int(envoyes.size())));
    QVERIFY(lecteur.rapports() == envoyes);
    QTRY_COMPARE(threadsDeConnexion(), 1);

    m_serveur->receptionDonnees(QStringLiteral("encore"));
    QTRY_COMPARE(lecteur.rapports().size(), envoyes.size() + 1);
    QCOMPARE(lecteur.rapports().last(), QStringLiteral("encore"));
}

void TestAfficheurSocket::ecouteImpossible()
{
    QTcpServer occupant;
    QVERIFY2(occupant.listen(QHostAddress::AnyIPv4, 0), qPrintable(occupant.errorString()));
    m_console->vider();

    AfficheurSocket serveur(occupant.serverPort());
    QVERIFY(!serveur.isListening());
    QCOMPARE(m_console->lignes(), QStringList{QStringLiteral("\"Impossible d'écouter sur le port TCP %1 : %2\" ")
                                                  .arg(occupant.serverPort())
                                                  .arg(serveur.errorString())});

    QSignalSpy emis(&serveur, &AfficheurSocket::nouvellesDonnees);
    serveur.receptionDonnees(QStringLiteral("abc"));
    QCOMPARE(emis.count(), 1);
}

void TestAfficheurSocket::fermetureDesConnexions()
{
    ClientAffichage lecteur(m_port);
    ClientAffichage endormi(m_port, false);
    QTRY_COMPARE(lignesConnexion(), 2);
    QStringList envoyes;
    for (int i = 0; i < 16; ++i) {
        envoyes << QString(1024 * 1024, QLatin1Char('a' + i));
        m_serveur->receptionDonnees(envoyes.last());
        QTRY_COMPARE_WITH_TIMEOUT(lecteur.rapports().size(), envoyes.size(), 20000);
    }

    QList<QPointer<QThread>> threads;
    for (QThread *thread : m_serveur->findChildren<QThread *>())
        threads << thread;
    QCOMPARE(threads.size(), 2);

    m_serveur->fermerConnexions();

    // Finished and deleted by the time the closing returns.
    for (const QPointer<QThread> &thread : threads)
        QVERIFY(thread.isNull());
    QVERIFY(!m_serveur->isListening());
    QTRY_COMPARE(lecteur.socket().state(), QAbstractSocket::UnconnectedState);
    QVERIFY(lecteur.rapports() == envoyes);
}

void TestAfficheurSocket::clientsPermis_data()
{
    QTest::addColumn<int>("demandes");
    QTest::addColumn<qint64>("descripteurs");
    QTest::addColumn<int>("permis");

    QTest::newRow("limite large") << 256 << qint64(1048576) << 256;
    QTest::newRow("1024 descripteurs") << 256 << qint64(1024) << 256;
    QTest::newRow("256 descripteurs") << 256 << qint64(256) << 64;
    QTest::newRow("juste la reserve") << 256 << qint64(64) << 0;
    QTest::newRow("moins que la reserve") << 256 << qint64(10) << 0;
}

void TestAfficheurSocket::clientsPermis()
{
    QFETCH(int, demandes);
    QFETCH(qint64, descripteurs);
    QFETCH(int, permis);
    QCOMPARE(AfficheurSocket::clientsPermis(demandes, descripteurs), permis);
}

void TestAfficheurSocket::limiteDeClients()
{
    m_serveur.reset();
    m_serveur = std::make_unique<AfficheurSocket>(0, nullptr, 2);
    QVERIFY2(m_serveur->isListening(), qPrintable(m_serveur->errorString()));
    m_port = m_serveur->serverPort();
    m_console->vider();

    auto premier = std::make_unique<ClientAffichage>(m_port);
    ClientAffichage second(m_port);
    QTRY_COMPARE(lignesConnexion(), 2);

    // Refused clients are closed at once, so that none believes it is served.
    std::vector<std::unique_ptr<ClientAffichage>> refuses;
    for (int i = 0; i < 3; ++i) {
        refuses.push_back(std::make_unique<ClientAffichage>(m_port));
        QTRY_COMPARE(refuses.back()->socket().state(), QAbstractSocket::UnconnectedState);
    }
    QCOMPARE(m_console->lignes(),
             (QStringList{m_console->lignes().value(0), m_console->lignes().value(1),
                          QStringLiteral("\"Limite de 2 clients d'affichage atteinte : nouvelles connexions refusées.\" ")}));

    m_serveur->receptionDonnees(QStringLiteral("un"));
    QTRY_COMPARE(second.rapports(), QStringList{QStringLiteral("un")});

    premier.reset();
    QTRY_VERIFY(m_console->lignes().contains(
        QStringLiteral("\"Clients d'affichage de nouveau acceptés (3 connexion(s) refusée(s) entre-temps).\" ")));
    QTRY_COMPARE(m_serveur->clients(), 1);

    ClientAffichage tardif(m_port);
    QTRY_COMPARE(lignesConnexion(), 3);
    m_serveur->receptionDonnees(QStringLiteral("deux"));
    QTRY_COMPARE(tardif.rapports(), QStringList{QStringLiteral("deux")});
    QTRY_COMPARE(second.rapports(), (QStringList{QStringLiteral("un"), QStringLiteral("deux")}));
}

void TestAfficheurSocket::budgetCommun()
{
    // Bytes waiting for all clients together are bounded: the client that
    // does not read is cut off once the whole is over, the reading ones
    // never are.
    m_serveur.reset();
    m_serveur = std::make_unique<AfficheurSocket>(0, nullptr, AfficheurSocket::clientsMaxParDefaut, 8 * 1024 * 1024);
    m_port = m_serveur->serverPort();
    m_console->vider();
    ClientAffichage lecteur(m_port);
    ClientAffichage endormi(m_port, false);
    QTRY_COMPARE(lignesConnexion(), 2);
    const QString coupure = QStringLiteral("Client trop lent, connexion fermée :  \"127.0.0.1:%1\" ")
                                .arg(endormi.socket().localPort());

    const int taille = 1024 * 1024;
    QStringList envoyes;
    while (!m_console->lignes().contains(coupure) && envoyes.size() < 200) {
        envoyes << QString(taille, QLatin1Char('a' + envoyes.size() % 26));
        m_serveur->receptionDonnees(envoyes.last());
        QTRY_COMPARE_WITH_TIMEOUT(lecteur.rapports().size(), envoyes.size(), 20000);
    }
    QVERIFY(m_console->lignes().contains(coupure));
    // Cut by the common bound: its own would have let it reach 32 MiB.
    QVERIFY2(qint64(envoyes.size()) * (5 + taille) < AfficheurSocketThread::TailleMaxEnAttente,
             QByteArray::number(int(envoyes.size())));
    QVERIFY(lecteur.rapports() == envoyes);
    QTRY_COMPARE(m_serveur->clients(), 1);
}

QTEST_GUILESS_MAIN(TestAfficheurSocket)
#include "tst_afficheursocket.moc"
