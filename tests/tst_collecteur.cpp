#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// The real collecteur binary, run in a temporary directory, its console
// gathered line by line.
class Collecteur
{
public:
    explicit Collecteur(const QStringList &arguments,
                        const QProcessEnvironment &environnement = QProcessEnvironment::systemEnvironment())
    {
        QVERIFY(m_dossier.isValid());
        m_processus.setProcessEnvironment(environnement);
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

// The hypervisor names stored in a backup file, or nothing while the file
// is still being written (locked, or its tables not there yet).
QStringList hyperviseursSauvegardes(const QString &fichier)
{
    QStringList noms;
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lecture"));
        base.setDatabaseName(fichier);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (base.open()) {
            QSqlQuery requete(base);
            if (requete.exec(QStringLiteral("SELECT h.name || '/' || group_concat(v.name) FROM InfosHyperviseurs h "
                                            "JOIN InfosVMs v ON v.idinfos = h.id GROUP BY h.id ORDER BY h.id"))) {
                while (requete.next())
                    noms << requete.value(0).toString();
            }
        }
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lecture"));
    return noms;
}

// The backup files of a directory, oldest first, with their time stamps.
QList<QPair<QString, QDateTime>> sauvegardes(const QString &dossier)
{
    static const QRegularExpression nom(QStringLiteral("^collecteur(\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d)\\.db$"));
    QList<QPair<QString, QDateTime>> resultat;
    for (const QString &fichier : QDir(dossier).entryList(QDir::Files)) {
        const QRegularExpressionMatch correspondance = nom.match(fichier);
        if (correspondance.hasMatch())
            resultat << qMakePair(QDir(dossier).filePath(fichier),
                                  QDateTime::fromString(correspondance.captured(1), QStringLiteral("dd-MM-yyyy_hh-mm-ss")));
    }
    std::sort(resultat.begin(), resultat.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
    return resultat;
}

QString sauvegardeContenant(const QString &dossier, const QString &hyperviseur)
{
    for (const auto &sauvegarde : sauvegardes(dossier)) {
        if (hyperviseursSauvegardes(sauvegarde.first).contains(hyperviseur))
            return sauvegarde.first;
    }
    return QString();
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
    void sauvegardesHoraires();
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

void TestCollecteur::sauvegardesHoraires()
{
    const QString faketime = QStringLiteral(COLLECTEUR_FAKETIME);
    if (faketime.isEmpty() || !QFileInfo::exists(faketime))
        QSKIP("libfaketime est absente");
    // Preloaded into the collector itself (the faketime command would stand
    // between the test and the process): its clock, and with it its timers,
    // runs one hour per second.
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert(QStringLiteral("LD_PRELOAD"), faketime);
    environnement.insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x3600"));
    const quint16 port = portUdpLibre();
    Collecteur collecteur({QStringLiteral("--port=%1").arg(port)}, environnement);
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("\"Ecoute sur le port %1\" ").arg(port)),
             qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));

    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
    agent.writeDatagram(datagramme(1, R"({"name":"hv-a","time":1,"vms":[{"name":"a1"},{"name":"a2"}]})"),
                        QHostAddress::LocalHost, port);
    QString fichierA;
    QTRY_VERIFY_WITH_TIMEOUT(!(fichierA = sauvegardeContenant(collecteur.dossier(), QStringLiteral("hv-a/a1,a2"))).isEmpty(),
                             30000);
    agent.writeDatagram(datagramme(2, R"({"name":"hv-b","time":2,"vms":[{"name":"b1"}]})"), QHostAddress::LocalHost, port);
    QString fichierB;
    QTRY_VERIFY_WITH_TIMEOUT(!(fichierB = sauvegardeContenant(collecteur.dossier(), QStringLiteral("hv-b/b1"))).isEmpty(),
                             30000);

    QCOMPARE(hyperviseursSauvegardes(fichierA), QStringList{QStringLiteral("hv-a/a1,a2")});
    QCOMPARE(hyperviseursSauvegardes(fichierB), QStringList{QStringLiteral("hv-b/b1")});
    // Every backup comes one hour after the previous one.
    const auto fichiers = sauvegardes(collecteur.dossier());
    QVERIFY(fichiers.size() >= 2);
    for (int i = 1; i < fichiers.size(); ++i)
        QVERIFY2(fichiers.at(i - 1).second.secsTo(fichiers.at(i).second) >= 3600,
                 qPrintable(fichiers.at(i - 1).first + QStringLiteral(" ") + fichiers.at(i).first));
    QVERIFY2(collecteur.processus().state() == QProcess::Running, qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestCollecteur)
#include "tst_collecteur.moc"
