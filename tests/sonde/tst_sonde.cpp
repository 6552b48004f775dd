// SPDX-License-Identifier: MIT
#include "DatagrammeRapport.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

namespace {

const QString racineInvites = QStringLiteral(RACINES "/invites/apres");

struct Execution
{
    int code = -1;
    QStringList sortie;
    QStringList erreurs;
};

QStringList lignes(const QByteArray &octets)
{
    QStringList resultat = QString::fromUtf8(octets).split(QLatin1Char('\n'));
    if (resultat.constLast().isEmpty())
        resultat.removeLast();
    return resultat;
}

Execution executer(const QStringList &arguments)
{
    QProcess processus;
    processus.start(QStringLiteral(SONDE_BINAIRE), arguments);
    Execution execution;
    if (!processus.waitForFinished(60000)) {
        processus.kill();
        processus.waitForFinished();
        return execution;
    }
    execution.code = processus.exitStatus() == QProcess::NormalExit ? processus.exitCode() : -1;
    execution.sortie = lignes(processus.readAllStandardOutput());
    execution.erreurs = lignes(processus.readAllStandardError());
    return execution;
}

QJsonObject objet(const QString &texte)
{
    return QJsonDocument::fromJson(texte.toLatin1()).object();
}

// A test-driver node of `nombre` running domains, named long enough that
// their report needs several datagrams.
QByteArray noeud(int nombre)
{
    QByteArray xml("<node>\n");
    for (int i = 0; i < nombre; ++i) {
        xml += "<domain type='test'><name>domaine-" + QByteArray::number(i) + '-' + QByteArray(120, 'x')
               + "</name><memory unit='KiB'>1048576</memory><currentMemory unit='KiB'>524288</currentMemory>"
                 "<vcpu>1</vcpu><os><type>hvm</type></os>"
                 "<devices><interface type='ethernet'><target dev='vnet0'/></interface></devices></domain>\n";
    }
    return xml + "</node>\n";
}

bool ecrireFichier(const QString &chemin, const QByteArray &contenu)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly) && fichier.write(contenu) == contenu.size();
}

} // namespace

class TestSonde : public QObject
{
    Q_OBJECT

private slots:
    void uneFois_data();
    void uneFois();
    void repartition();
    void options_data();
    void options();
    void envoisEtLibvirtRetablie();
    void arret_data();
    void arret();
};

void TestSonde::uneFois_data()
{
    QTest::addColumn<QString>("libvirt");
    QTest::addColumn<QStringList>("erreurs");
    QTest::addColumn<int>("vms");

    const QString cpu = QStringLiteral("Mesure cpu absente du rapport : aucun temps écoulé dans /proc/stat entre deux lectures.");
    QTest::newRow("test:///default")
        << QStringLiteral("test:///default")
        << QStringList{QStringLiteral("Connexion à libvirt établie (test:///default) : 1 domaine(s)."), cpu} << 1;
    QTest::newRow("sans libvirt") << QStringLiteral("aucun") << QStringList{cpu} << 0;
    const QString absent = QStringLiteral("qemu+unix:///system?socket=/nulle/part/libvirt-sock-ro");
    QTest::newRow("libvirt injoignable")
        << absent
        << QStringList{QStringLiteral("Connexion à libvirt impossible (%1) : Failed to connect socket to "
                                      "'/nulle/part/libvirt-sock-ro': No such file or directory").arg(absent),
                       cpu}
        << -1;
}

void TestSonde::uneFois()
{
    QFETCH(QString, libvirt);
    QFETCH(QStringList, erreurs);
    QFETCH(int, vms);

    const qint64 debut = QDateTime::currentSecsSinceEpoch();
    const Execution execution = executer({QStringLiteral("--une-fois"), QStringLiteral("--intervalle=0.3"),
                                          QStringLiteral("--racine=") + racineInvites, QStringLiteral("--nom=hv-essai"),
                                          QStringLiteral("--libvirt=") + libvirt});
    QVERIFY2(execution.code == 0, qPrintable(execution.erreurs.join(QLatin1Char('\n'))));
    QCOMPARE(execution.erreurs, erreurs);
    QCOMPARE(execution.sortie.size(), 1);

    // The racine's instant values; its counters do not move, so no cpu.
    const QJsonObject rapport = objet(execution.sortie.first());
    QStringList cles = rapport.keys();
    QCOMPARE(rapport.value(QStringLiteral("name")).toString(), QStringLiteral("hv-essai"));
    const qint64 temps = qint64(rapport.value(QStringLiteral("time")).toDouble());
    QVERIFY2(temps >= debut && temps <= QDateTime::currentSecsSinceEpoch(), qPrintable(execution.sortie.first()));
    QCOMPARE(rapport.value(QStringLiteral("cputemp")).toDouble(), 64.5);
    QCOMPARE(rapport.value(QStringLiteral("mbtemp")).toDouble(), 27.8);
    QCOMPARE(rapport.value(QStringLiteral("ram")).toDouble(), 62.5);
    QCOMPARE(rapport.value(QStringLiteral("network")).toDouble(), 0.0);
    QStringList attendues{QStringLiteral("cputemp"), QStringLiteral("disk"),   QStringLiteral("mbtemp"),
                          QStringLiteral("name"),    QStringLiteral("network"), QStringLiteral("ram"),
                          QStringLiteral("time")};
    if (vms >= 0)
        attendues << QStringLiteral("vms");
    QCOMPARE(cles, attendues);
    if (vms < 0)
        return;

    const QJsonArray liste = rapport.value(QStringLiteral("vms")).toArray();
    QCOMPARE(liste.size(), vms);
    if (vms == 0)
        return;
    const QJsonObject vm = liste.first().toObject();
    QCOMPARE(vm.value(QStringLiteral("name")).toString(), QStringLiteral("test"));
    QCOMPARE(vm.value(QStringLiteral("uuid")).toString(), QStringLiteral("6695eb01-f6a4-8304-79aa-97f2502e193f"));
    QCOMPARE(vm.value(QStringLiteral("state")).toInt(), 1);
    QCOMPARE(vm.value(QStringLiteral("ram")).toDouble(), 2097152.0);
    QCOMPARE(vm.value(QStringLiteral("maxram")).toDouble(), 8388608.0);
    // The test driver's CPU time is its wall clock: one of its two vCPUs.
    const double cpu = vm.value(QStringLiteral("cpu")).toDouble(-1);
    QVERIFY2(cpu >= 40 && cpu <= 60, qPrintable(execution.sortie.first()));
    QVERIFY2(vm.value(QStringLiteral("network")).toDouble(-1) > 0, qPrintable(execution.sortie.first()));
}

void TestSonde::repartition()
{
    QTemporaryDir dossier;
    const QString fichier = dossier.filePath(QStringLiteral("noeud.xml"));
    constexpr int nombre = 600;
    QVERIFY(ecrireFichier(fichier, noeud(nombre)));

    const Execution execution = executer({QStringLiteral("--une-fois"), QStringLiteral("--intervalle=0.2"),
                                          QStringLiteral("--racine=") + racineInvites, QStringLiteral("--nom=hv-essai"),
                                          QStringLiteral("--libvirt=test://") + fichier});
    QVERIFY2(execution.code == 0, qPrintable(execution.erreurs.join(QLatin1Char('\n'))));
    QVERIFY2(execution.sortie.size() >= 2, qPrintable(QString::number(execution.sortie.size())));
    QSet<QString> vus;
    for (const QString &texte : execution.sortie) {
        QVERIFY2(texte.toLatin1().size() + DatagrammeRapport::tailleEntete <= DatagrammeRapport::tailleMaximale,
                 qPrintable(QString::number(texte.size())));
        const QJsonObject rapport = objet(texte);
        QCOMPARE(rapport.value(QStringLiteral("name")).toString(), QStringLiteral("hv-essai"));
        QCOMPARE(rapport.value(QStringLiteral("time")), objet(execution.sortie.first()).value(QStringLiteral("time")));
        QCOMPARE(rapport.value(QStringLiteral("ram")).toDouble(), 62.5);
        for (const QJsonValue &vm : rapport.value(QStringLiteral("vms")).toArray()) {
            const QString nom = vm.toObject().value(QStringLiteral("name")).toString();
            QVERIFY2(!vus.contains(nom), qPrintable(nom));
            vus.insert(nom);
        }
    }
    QCOMPARE(vus.size(), nombre);
}

void TestSonde::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("erreur");

    QTest::newRow("intervalle nul") << QStringList{QStringLiteral("--intervalle=0")} << 2
                                    << QStringLiteral("Valeur invalide pour --intervalle : « 0 » (nombre de 0.1 à 86400 attendu).");
    QTest::newRow("collecteur sans port") << QStringList{QStringLiteral("--collecteur=hote")} << 2
                                          << QStringLiteral("Valeur invalide pour --collecteur : « hote » (HOTE:PORT attendu).");
    QTest::newRow("IPv6 sans crochets") << QStringList{QStringLiteral("--collecteur=::1:55000")} << 2
                                        << QStringLiteral("Valeur invalide pour --collecteur : « ::1:55000 » (HOTE:PORT attendu).");
    QTest::newRow("option inconnue") << QStringList{QStringLiteral("--port=1")} << 2 << QStringLiteral("Unknown option 'port'.");
    QTest::newRow("aide") << QStringList{QStringLiteral("--help")} << 0 << QString();
}

void TestSonde::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, erreur);

    const Execution execution = executer(arguments);
    QCOMPARE(execution.code, code);
    QCOMPARE(execution.erreurs, erreur.isEmpty() ? QStringList() : QStringList{erreur});
    if (code != 0)
        return;
    // The help gives the report's units.
    const QString aide = execution.sortie.join(QLatin1Char('\n'));
    for (const QString &mot : {QStringLiteral("Mbit/s"), QStringLiteral("Kio"), QStringLiteral("°C"),
                               QStringLiteral("MemAvailable"), QStringLiteral("--une-fois"), QStringLiteral("--racine")})
        QVERIFY2(aide.contains(mot), qPrintable(mot));
}

void TestSonde::envoisEtLibvirtRetablie()
{
    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, 0), qPrintable(collecteur.errorString()));
    QTemporaryDir dossier;
    const QString fichier = dossier.filePath(QStringLiteral("noeud.xml"));
    const QString uri = QStringLiteral("test://") + fichier;

    QProcess sonde;
    sonde.start(QStringLiteral(SONDE_BINAIRE),
                {QStringLiteral("--intervalle=0.2"), QStringLiteral("--racine=") + racineInvites, QStringLiteral("--nom=hv-essai"),
                 QStringLiteral("--libvirt=") + uri, QStringLiteral("--collecteur=127.0.0.1:%1").arg(collecteur.localPort())});
    QVERIFY2(sonde.waitForStarted(10000), qPrintable(sonde.errorString()));

    QVector<quint32> sequences;
    QVector<QJsonObject> rapports;
    const auto lire = [&] {
        while (collecteur.hasPendingDatagrams()) {
            QByteArray octets(int(collecteur.pendingDatagramSize()), '\0');
            collecteur.readDatagram(octets.data(), octets.size());
            sequences << DatagrammeRapport::sequence(octets);
            rapports << objet(DatagrammeRapport::texte(octets));
        }
        return rapports.size();
    };
    // Reports go on without the VMs while libvirt cannot be reached.
    QTRY_VERIFY(lire() >= 2);
    QVERIFY(!rapports.first().contains(QStringLiteral("vms")));
    QVERIFY(ecrireFichier(fichier, noeud(3)));
    QTRY_VERIFY(lire() > 0 && rapports.constLast().value(QStringLiteral("vms")).toArray().size() == 3);
    sonde.kill();
    sonde.waitForFinished();

    for (int i = 0; i < sequences.size(); ++i)
        QCOMPARE(sequences.at(i), quint32(i));
    // libxml2, inside the test driver, writes one warning per attempt itself.
    QStringList erreurs;
    for (const QString &ligne : lignes(sonde.readAllStandardError())) {
        if (!ligne.startsWith(QLatin1String("I/O warning : failed to load external entity")))
            erreurs << ligne;
    }
    QCOMPARE(erreurs.value(0), QStringLiteral("Sonde hv-essai : un rapport toutes les 0.2 s vers 127.0.0.1:%1, libvirt %2.")
                                   .arg(collecteur.localPort())
                                   .arg(uri));
    QCOMPARE(erreurs.value(1), QStringLiteral("Connexion à libvirt impossible (%1) : XML error: failed to parse xml document '%2'")
                                   .arg(uri, fichier));
    QCOMPARE(erreurs.mid(2), (QStringList{
        QStringLiteral("Mesure cpu absente du rapport : aucun temps écoulé dans /proc/stat entre deux lectures."),
        QStringLiteral("Connexion à libvirt établie (%1) : 3 domaine(s).").arg(uri)}));
}

void TestSonde::arret_data()
{
    QTest::addColumn<QString>("libvirt");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("ligne");

    const QString fermee = QStringLiteral("Arrêt demandé (%1) : connexion à libvirt fermée.");
    QTest::newRow("SIGTERM, libvirt") << QStringLiteral("test:///default") << int(SIGTERM) << fermee.arg(QLatin1String("SIGTERM"));
    QTest::newRow("SIGINT, libvirt") << QStringLiteral("test:///default") << int(SIGINT) << fermee.arg(QLatin1String("SIGINT"));
    QTest::newRow("SIGTERM, sans libvirt") << QStringLiteral("aucun") << int(SIGTERM) << QStringLiteral("Arrêt demandé (SIGTERM).");
}

void TestSonde::arret()
{
    QFETCH(QString, libvirt);
    QFETCH(int, signal);
    QFETCH(QString, ligne);

    QUdpSocket collecteur;
    QVERIFY2(collecteur.bind(QHostAddress::LocalHost, 0), qPrintable(collecteur.errorString()));
    QProcess sonde;
    sonde.start(QStringLiteral(SONDE_BINAIRE),
                {QStringLiteral("--intervalle=0.2"), QStringLiteral("--racine=") + racineInvites, QStringLiteral("--nom=hv-essai"),
                 QStringLiteral("--libvirt=") + libvirt, QStringLiteral("--collecteur=127.0.0.1:%1").arg(collecteur.localPort())});
    QVERIFY2(sonde.waitForStarted(10000), qPrintable(sonde.errorString()));
    // A report means libvirt was read, through the connection the stop closes.
    QTRY_VERIFY(collecteur.hasPendingDatagrams());

    QCOMPARE(::kill(pid_t(sonde.processId()), signal), 0);
    QVERIFY2(sonde.waitForFinished(10000), "la sonde ne s'arrête pas");
    QCOMPARE(sonde.exitStatus(), QProcess::NormalExit);
    const QStringList erreurs = lignes(sonde.readAllStandardError());
    QVERIFY2(sonde.exitCode() == 0, qPrintable(erreurs.join(QLatin1Char('\n'))));
    QCOMPARE(erreurs.value(erreurs.size() - 1), ligne);
    QCOMPARE(erreurs.filter(QStringLiteral("Arrêt demandé")).size(), 1);
}

QTEST_GUILESS_MAIN(TestSonde)
#include "tst_sonde.moc"
