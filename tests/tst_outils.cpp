// SPDX-License-Identifier: MIT
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

namespace {

QByteArray trame(const QByteArray &texte, char marqueur = 1)
{
    const auto n = quint32(texte.size());
    QByteArray octets;
    octets.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n)).append(marqueur);
    return octets + texte;
}

quint16 portTcpLibre()
{
    QTcpServer sonde;
    sonde.listen(QHostAddress::LocalHost, 0);
    return sonde.serverPort();
}

struct Datagramme
{
    quint32 sequence;
    QJsonObject rapport;
};

} // namespace

class TestOutils : public QObject
{
    Q_OBJECT

private slots:
    void agent();
    void options_data();
    void options();
    void agentInterrompu_data();
    void agentInterrompu();
    void afficheur_data();
    void afficheur();
    void afficheurSansCollecteur();
    void afficheurInterrompu_data();
    void afficheurInterrompu();
};

void TestOutils::agent()
{
    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, 0), qPrintable(collecteur.errorString()));

    QProcess processus;
    processus.start(QStringLiteral(AGENT_BINAIRE),
                    {QStringLiteral("--port=%1").arg(collecteur.localPort()), QStringLiteral("--hyperviseurs=3"),
                     QStringLiteral("--vms=2"), QStringLiteral("--nombre=6"), QStringLiteral("--rythme=0"),
                     QStringLiteral("--repetition=3"), QStringLiteral("--inversion=4"), QStringLiteral("--silencieux")});
    QVERIFY2(processus.waitForFinished(30000), qPrintable(processus.errorString()));
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processus.exitCode(), 0);
    const QString sortie = QString::fromUtf8(processus.readAllStandardOutput());
    QVERIFY2(sortie.contains(QStringLiteral("Terminé : 18 datagrammes envoyés en ")), qPrintable(sortie));
    QVERIFY2(sortie.contains(QStringLiteral("; 0 échec(s) d'envoi.")), qPrintable(sortie));

    QMap<QString, QVector<Datagramme>> recus;
    int nombre = 0;
    auto lire = [&]() {
        while (collecteur.hasPendingDatagrams()) {
            QByteArray octets(int(collecteur.pendingDatagramSize()), '\0');
            QHostAddress source;
            collecteur.readDatagram(octets.data(), octets.size(), &source);
            QJsonParseError erreur{};
            const QJsonDocument document = QJsonDocument::fromJson(octets.mid(4), &erreur);
            if (erreur.error != QJsonParseError::NoError)
                qWarning("JSON invalide : %s", octets.mid(4).constData());
            const auto *s = reinterpret_cast<const uchar *>(octets.constData());
            recus[source.toString()].append({(quint32(s[0]) << 24) | (quint32(s[1]) << 16) | (quint32(s[2]) << 8) | s[3],
                                             document.object()});
            ++nombre;
        }
        return nombre;
    };
    QTRY_COMPARE(lire(), 18);

    QCOMPARE(recus.keys(), (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}));
    for (int i = 0; i < 3; ++i) {
        const QVector<Datagramme> &datagrammes = recus.value(QStringLiteral("127.0.0.%1").arg(i + 1));
        QVector<quint32> sequences;
        for (const Datagramme &d : datagrammes) {
            sequences.append(d.sequence);
            QCOMPARE(d.rapport.value(QStringLiteral("name")).toString(), QStringLiteral("hv-lab-0%1").arg(i + 1));
            QCOMPARE(d.rapport.value(QStringLiteral("vms")).toArray().size(), 2);
        }
        QCOMPARE(sequences, (QVector<quint32>{1, 2, 3, 3, 5, 4}));
    }
}

void TestOutils::options_data()
{
    QTest::addColumn<QString>("programme");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("erreur");

    const QString agent = QStringLiteral(AGENT_BINAIRE);
    const QString afficheur = QStringLiteral(AFFICHEUR_BINAIRE);
    QTest::newRow("agent, hyperviseurs nul")
        << agent << QStringList{QStringLiteral("--hyperviseurs=0")} << 2
        << QStringLiteral("Valeur invalide pour --hyperviseurs : « 0 » (entier de 1 à 254 attendu).\n");
    QTest::newRow("agent, chaque valeur invalide dite")
        << agent << QStringList{QStringLiteral("--rythme=-1"), QStringLiteral("--port=0"), QStringLiteral("--duree=x")} << 2
        << QStringLiteral("Valeur invalide pour --port : « 0 » (entier de 1 à 65535 attendu).\n"
                          "Valeur invalide pour --rythme : « -1 » (nombre de 0 à 1000000000 attendu).\n"
                          "Valeur invalide pour --duree : « x » (nombre de 0 à 1000000000 attendu).\n");
    QTest::newRow("agent, argument en trop") << agent << QStringList{QStringLiteral("autre")} << 2
                                             << QStringLiteral("Argument inattendu : autre\n");
    QTest::newRow("agent, aide") << agent << QStringList{QStringLiteral("--help")} << 0 << QString();
    QTest::newRow("afficheur, port hors limites")
        << afficheur << QStringList{QStringLiteral("--port=65536")} << 2
        << QStringLiteral("Valeur invalide pour --port : « 65536 » (entier de 1 à 65535 attendu).\n");
    QTest::newRow("afficheur, nombre négatif")
        << afficheur << QStringList{QStringLiteral("--nombre=-1")} << 2
        << QStringLiteral("Valeur invalide pour --nombre : « -1 » (entier de 0 à 9007199254740992 attendu).\n");
    QTest::newRow("afficheur, brut et silencieux")
        << afficheur << QStringList{QStringLiteral("--brut"), QStringLiteral("--silencieux")} << 2
        << QStringLiteral("--brut et --silencieux ne vont pas ensemble.\n");
    QTest::newRow("afficheur, aide") << afficheur << QStringList{QStringLiteral("-h")} << 0 << QString();
}

void TestOutils::options()
{
    QFETCH(QString, programme);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, erreur);

    QProcess processus;
    processus.start(programme, arguments);
    QVERIFY2(processus.waitForFinished(30000), qPrintable(processus.errorString()));
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processus.exitCode(), code);
    QCOMPARE(QString::fromUtf8(processus.readAllStandardError()), erreur);
    const QString sortie = QString::fromUtf8(processus.readAllStandardOutput());
    if (code == 0)
        QVERIFY2(sortie.startsWith(QStringLiteral("Utilisation : ")) && sortie.contains(QStringLiteral("--port <N>")),
                 qPrintable(sortie));
    else
        QCOMPARE(sortie, QString());
}

void TestOutils::agentInterrompu_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestOutils::agentInterrompu()
{
    QFETCH(int, signal);
    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, 0), qPrintable(collecteur.errorString()));

    // Slow enough to be sleeping between two rounds when the signal comes.
    QProcess processus;
    processus.start(QStringLiteral(AGENT_BINAIRE),
                    {QStringLiteral("--port=%1").arg(collecteur.localPort()), QStringLiteral("--rythme=2")});
    QTRY_VERIFY(collecteur.hasPendingDatagrams());
    QCOMPARE(::kill(pid_t(processus.processId()), signal), 0);
    QVERIFY2(processus.waitForFinished(30000), "l'agent ne s'arrête pas");
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processus.exitCode(), 0);
    // The summary still comes, as on reaching --nombre.
    const QStringList sortie = QString::fromUtf8(processus.readAllStandardOutput()).split(QLatin1Char('\n'));
    QVERIFY2(sortie.value(sortie.size() - 2).startsWith(QStringLiteral("Terminé : ")), qPrintable(sortie.join(QLatin1Char('\n'))));
    QVERIFY2(sortie.value(sortie.size() - 2).endsWith(QStringLiteral("; 0 échec(s) d'envoi.")), qPrintable(sortie.join(QLatin1Char('\n'))));
}

void TestOutils::afficheur_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("flux");
    QTest::addColumn<bool>("fermer");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("sortie");
    QTest::addColumn<QString>("erreur");

    const QByteArray rapport = "{\"name\":\"hv-lab-01\",\"time\":1309139574,\"cpu\":23.4,\"ram\":61.8,\"vms\":[{},{}]}";
    const QByteArray flux = trame(rapport) + trame("") + trame("caf\xe9") + trame("jamais lu");

    QTest::newRow("brut, nombre atteint")
        << QStringList{QStringLiteral("--brut"), QStringLiteral("--nombre=3")} << flux << false << 0
        << QString::fromLatin1(rapport + "\n\ncaf\xe9\n") << QString();
    QTest::newRow("lisible")
        << QStringList{QStringLiteral("--nombre=1")} << flux << false << 0
        << QStringLiteral("hv-lab-01  2011-06-27 01:52:54 UTC  cpu 23.4 %  ram 61.8 %  2 VM\n") << QString();
    QTest::newRow("silencieux")
        << QStringList{QStringLiteral("--silencieux"), QStringLiteral("--nombre=4")} << flux << false << 0
        << QStringLiteral("4 trame(s) reçue(s) en ") << QString();
    QTest::newRow("marqueur invalide")
        << QStringList{QStringLiteral("--brut")} << trame("abc") + trame("def", 2) + trame("ghi") << false << 3
        << QStringLiteral("abc\n") << QStringLiteral("Trame invalide : marqueur 2 au lieu de 1. Arrêt après 1 trame(s) valide(s).\n");
    QTest::newRow("longueur negative")
        << QStringList{QStringLiteral("--brut")} << QByteArray::fromHex("ffffff0001") << false << 3
        << QString() << QStringLiteral("Trame invalide : longueur négative (-256). Arrêt après 0 trame(s) valide(s).\n");
    QTest::newRow("connexion perdue")
        << QStringList{QStringLiteral("--brut")} << trame("abc") << true << 1
        << QStringLiteral("abc\n") << QStringLiteral("Connexion perdue avec 127.0.0.1:%1 après 1 trame(s).\n");
    QTest::newRow("connexion perdue dans une trame")
        << QStringList{QStringLiteral("--brut")} << trame("abc").left(6) << true << 1
        << QString() << QStringLiteral("Connexion perdue avec 127.0.0.1:%1 après 0 trame(s), au milieu d'une trame (6 octet(s) en attente).\n");
}

void TestOutils::afficheur()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, flux);
    QFETCH(bool, fermer);
    QFETCH(int, code);
    QFETCH(QString, sortie);
    QFETCH(QString, erreur);

    QTcpServer serveur;
    QVERIFY2(serveur.listen(QHostAddress::LocalHost, 0), qPrintable(serveur.errorString()));

    QProcess processus;
    processus.start(QStringLiteral(AFFICHEUR_BINAIRE), arguments << QStringLiteral("--port=%1").arg(serveur.serverPort()));
    QVERIFY2(serveur.waitForNewConnection(30000), qPrintable(serveur.errorString()));
    QTcpSocket *client = serveur.nextPendingConnection();
    client->write(flux);
    QVERIFY2(client->waitForBytesWritten(30000), qPrintable(client->errorString()));
    if (fermer)
        client->disconnectFromHost();

    QVERIFY2(processus.waitForFinished(30000), qPrintable(processus.errorString()));
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    const QString obtenue = QString::fromUtf8(processus.readAllStandardOutput());
    const QString erreurs = QString::fromUtf8(processus.readAllStandardError());
    QVERIFY2(processus.exitCode() == code, qPrintable(erreurs));
    if (arguments.contains(QStringLiteral("--silencieux")))
        QVERIFY2(obtenue.startsWith(sortie), qPrintable(obtenue));
    else
        QCOMPARE(obtenue, sortie);
    QCOMPARE(erreurs.split(QLatin1Char('\n')).value(0), QStringLiteral("Connecté à 127.0.0.1:%1.").arg(serveur.serverPort()));
    if (erreur.contains(QLatin1String("%1")))
        erreur = erreur.arg(serveur.serverPort());
    QVERIFY2(erreurs.endsWith(erreur), qPrintable(erreurs));
}

void TestOutils::afficheurSansCollecteur()
{
    QProcess processus;
    processus.start(QStringLiteral(AFFICHEUR_BINAIRE), {QStringLiteral("--port=%1").arg(portTcpLibre())});
    QVERIFY2(processus.waitForFinished(30000), qPrintable(processus.errorString()));
    QCOMPARE(processus.exitCode(), 1);
    const QString erreurs = QString::fromUtf8(processus.readAllStandardError());
    QVERIFY2(erreurs.startsWith(QStringLiteral("Connexion impossible à 127.0.0.1:")), qPrintable(erreurs));
}

void TestOutils::afficheurInterrompu_data()
{
    agentInterrompu_data();
}

void TestOutils::afficheurInterrompu()
{
    QFETCH(int, signal);
    QTcpServer serveur;
    QVERIFY2(serveur.listen(QHostAddress::LocalHost, 0), qPrintable(serveur.errorString()));
    QProcess processus;
    processus.start(QStringLiteral(AFFICHEUR_BINAIRE), {QStringLiteral("--brut"), QStringLiteral("--port=%1").arg(serveur.serverPort())});
    QVERIFY2(serveur.waitForNewConnection(30000), qPrintable(serveur.errorString()));
    QTcpSocket *client = serveur.nextPendingConnection();
    client->write(trame("abc"));
    QString sortie;
    QTRY_COMPARE((sortie += QString::fromUtf8(processus.readAllStandardOutput())), QStringLiteral("abc\n"));

    QCOMPARE(::kill(pid_t(processus.processId()), signal), 0);
    QVERIFY2(processus.waitForFinished(30000), "l'afficheur ne s'arrête pas");
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processus.exitCode(), 0);
    const QStringList erreurs = QString::fromUtf8(processus.readAllStandardError()).split(QLatin1Char('\n'));
    QCOMPARE(erreurs.value(0), QStringLiteral("Connecté à 127.0.0.1:%1.").arg(serveur.serverPort()));
    QCOMPARE(erreurs.value(1), QStringLiteral("Interrompu."));
    QVERIFY2(erreurs.value(2).startsWith(QStringLiteral("1 trame(s) reçue(s) en ")), qPrintable(erreurs.join(QLatin1Char('\n'))));
    QCOMPARE(erreurs.size(), 4);
}

QTEST_GUILESS_MAIN(TestOutils)
#include "tst_outils.moc"
