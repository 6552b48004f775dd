#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// The real collecteur binary, run in a temporary directory, its console
// gathered line by line.
class Collecteur
{
public:
    explicit Collecteur(const QStringList &arguments)
    {
        QVERIFY(m_dossier.isValid());
        m_processus.setWorkingDirectory(m_dossier.path());
        m_processus.setProgram(QStringLiteral(COLLECTEUR_BINAIRE));
        m_processus.setArguments(arguments);
        m_processus.setProcessChannelMode(QProcess::SeparateChannels);
        m_processus.start();
        QVERIFY2(m_processus.waitForStarted(10000), qPrintable(m_processus.errorString()));
    }
    ~Collecteur()
    {
        if (m_processus.state() != QProcess::NotRunning) {
            m_processus.kill();
            m_processus.waitForFinished(10000);
        }
    }

    // The console lines so far, without their line ends.
    QStringList lignes()
    {
        m_console += QString::fromUtf8(m_processus.readAllStandardError());
        QStringList resultat = m_console.split(QLatin1Char('\n'));
        resultat.removeLast();
        return resultat;
    }
    bool attendreLigne(const QString &ligne, int delai = 10000)
    {
        QDeadlineTimer limite(delai);
        while (!lignes().contains(ligne)) {
            if (limite.hasExpired() || m_processus.state() == QProcess::NotRunning)
                return lignes().contains(ligne);
            m_processus.waitForReadyRead(100);
        }
        return true;
    }
    QProcess &processus() { return m_processus; }
    QString dossier() const { return m_dossier.path(); }

private:
    QTemporaryDir m_dossier;
    QProcess m_processus;
    QString m_console;
};

QByteArray datagramme(quint32 sequence, const QByteArray &texte)
{
    QByteArray octets;
    octets.append(char(sequence >> 24)).append(char(sequence >> 16)).append(char(sequence >> 8)).append(char(sequence));
    return octets + texte;
}

quint16 portUdpLibre()
{
    QUdpSocket sonde;
    sonde.bind(QHostAddress::AnyIPv4, 0);
    return sonde.localPort();
}

} // namespace

class TestCollecteur : public QObject
{
    Q_OBJECT

private slots:
    void demarrage_data();
    void demarrage();
    void portDejaPris();
};

void TestCollecteur::demarrage_data()
{
    QTest::addColumn<bool>("parDefaut");
    QTest::newRow("port par defaut") << true;
    QTest::newRow("--port=N") << false;
}

void TestCollecteur::demarrage()
{
    QFETCH(bool, parDefaut);
    const quint16 port = parDefaut ? 55000 : portUdpLibre();
    Collecteur collecteur(parDefaut ? QStringList() : QStringList{QStringLiteral("--port=%1").arg(port)});

    const QString demarrage = QStringLiteral("\"Ecoute sur le port %1\" ").arg(port);
    QVERIFY2(collecteur.attendreLigne(demarrage), qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
    QCOMPARE(collecteur.lignes().value(0), demarrage);

    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
    agent.writeDatagram(datagramme(42, "{}"), QHostAddress::LocalHost, port);
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.2  SeqNb:42\" ")),
             qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
}

void TestCollecteur::portDejaPris()
{
    QUdpSocket occupant;
    QVERIFY2(occupant.bind(QHostAddress::AnyIPv4, 0), qPrintable(occupant.errorString()));
    const quint16 port = occupant.localPort();

    Collecteur collecteur({QStringLiteral("--port=%1").arg(port)});
    QVERIFY(collecteur.processus().waitForFinished(10000));
    QCOMPARE(collecteur.processus().exitStatus(), QProcess::NormalExit);
    QVERIFY(collecteur.processus().exitCode() != 0);

    const QStringList lignes = collecteur.lignes();
    QCOMPARE(lignes.size(), 2);
    QCOMPARE(lignes.at(0), QStringLiteral("\"Ecoute sur le port %1\" ").arg(port));
    QVERIFY2(lignes.at(1).startsWith(QStringLiteral("\"Impossible de lier le port UDP %1 : ").arg(port)), qPrintable(lignes.at(1)));
    QVERIFY2(lignes.at(1).size() > QStringLiteral("\"Impossible de lier le port UDP %1 : \" ").arg(port).size(), qPrintable(lignes.at(1)));
}

QTEST_GUILESS_MAIN(TestCollecteur)
#include "tst_collecteur.moc"
