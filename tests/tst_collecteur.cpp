// SPDX-License-Identifier: MIT
#include "ClientAffichage.h"
#include "ProcessusCollecteur.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <QThread>

#include <csignal>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Every line a normal run prints; anything else (a Qt warning about threads
// or connections, say) is a fault.
bool ligneAttendue(const QString &ligne)
{
    static const QRegularExpression formes(QStringLiteral(
        "^(\"Ecoute sur le port \\d+\" "
        "|\"Le driver courant \\(QSQLITE\\) : \" "
        "|\"  SUPPORTE [^\"]*\" "
        "|\"Tampon de réception UDP limité [^\"]*\" "
        "|Réception de  \"[0-9.]+  SeqNb:\\d+\" "
        "|\"[0-9.]+\" :  \"-?\\d+ paquet\\(s\\) perdu\\(s\\)\\.\" "
        "|\"Erreur. Un paramètre ne contient aucunes données.\" "
        "|\\(\"name\", \"uuid\", \"state\", \"cpu\", \"ram\", \"maxram\", \"network\"\\) "
        "|Nouvelle connexion :  \\d+ "
        "|Thread:  0x[0-9a-f]+ \\. Transmission des données à  \"[0-9.]*\" "
        ")$"));
    return formes.match(ligne).hasMatch();
}

// Rows of a backup file, or -1 when it is not a sound SQLite database.
int lignesSaines(const QString &fichier)
{
    int lignes = -1;
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("verification"));
        base.setDatabaseName(fichier);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (base.open()) {
            QSqlQuery requete(base);
            if (requete.exec(QStringLiteral("PRAGMA integrity_check")) && requete.next()
                && requete.value(0).toString() == QLatin1String("ok")
                && requete.exec(QStringLiteral("SELECT count(*) FROM InfosHyperviseurs")) && requete.next())
                lignes = requete.value(0).toInt();
        }
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("verification"));
    return lignes;
}

int descripteursOuverts(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestCollecteur : public QObject
{
    Q_OBJECT

private slots:
    void demarrage_data();
    void demarrage();
    void ligneDeCommande_data();
    void ligneDeCommande();
    void portDejaPris();
    void sauvegardesHoraires();
    void deBoutEnBout();
    void arretParSignal_data();
    void arretParSignal();
    void clientEnCoursDeRoute();
    void limiteDeDescripteurs();
    void limiteDeThreads();
    void arretBrutalPendantSauvegarde_data();
    void arretBrutalPendantSauvegarde();
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
    ProcessusCollecteur collecteur(parDefaut ? QStringList() : QStringList{QStringLiteral("--port=%1").arg(port)});

    const QString demarrage = QStringLiteral("\"Ecoute sur le port %1\" ").arg(port);
    QVERIFY2(collecteur.attendreLigne(demarrage), qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
    QCOMPARE(collecteur.lignes().value(0), demarrage);

    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
    agent.writeDatagram(datagramme(42, "{}"), QHostAddress::LocalHost, port);
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.2  SeqNb:42\" ")),
             qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
}

void TestCollecteur::ligneDeCommande_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("statut");
    QTest::addColumn<QStringList>("console");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << QStringList();
    QTest::newRow("-h apres une option") << QStringList{QStringLiteral("--port=1"), QStringLiteral("-h")} << 0 << QStringList();
    QTest::newRow("--memoire-max invalide")
        << QStringList{QStringLiteral("--memoire-max=12X")} << 2
        << QStringList{QStringLiteral("\"Valeur invalide pour --memoire-max (une taille d'au moins 1M est attendue : "
                                      "536870912, 512M, 2G, 1.5G...).\" ")};
    QTest::newRow("--memoire-max trop petite")
        << QStringList{QStringLiteral("--memoire-max=1023K")} << 2
        << QStringList{QStringLiteral("\"Valeur invalide pour --memoire-max (une taille d'au moins 1M est attendue : "
                                      "536870912, 512M, 2G, 1.5G...).\" ")};
}

// The help and a refused option start nothing and leave no file behind.
void TestCollecteur::ligneDeCommande()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, statut);
    QFETCH(QStringList, console);

    ProcessusCollecteur collecteur(arguments);
    QVERIFY(collecteur.processus().waitForFinished(10000));
    QCOMPARE(collecteur.processus().exitStatus(), QProcess::NormalExit);
    QCOMPARE(collecteur.processus().exitCode(), statut);
    QCOMPARE(collecteur.lignes(), console);
    const QString sortie = QString::fromUtf8(collecteur.processus().readAllStandardOutput());
    if (statut == 0) {
        QVERIFY2(sortie.startsWith(QStringLiteral("Utilisation : %1 [options]\n").arg(QStringLiteral(COLLECTEUR_BINAIRE))),
                 qPrintable(sortie));
        for (const QString &option : {QStringLiteral("-h, --help"), QStringLiteral("--port <N>"),
                                      QStringLiteral("--clients-max <N>"), QStringLiteral("--journal <aucun>"),
                                      QStringLiteral("--memoire-max <TAILLE>")})
            QVERIFY2(sortie.contains(QStringLiteral("\n  ") + option + QLatin1Char(' ')), qPrintable(option));
    } else {
        QCOMPARE(sortie, QString());
    }
    QCOMPARE(QDir(collecteur.dossier()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

void TestCollecteur::portDejaPris()
{
    QUdpSocket occupant;
    QVERIFY2(occupant.bind(QHostAddress::AnyIPv4, 0), qPrintable(occupant.errorString()));
    const quint16 port = occupant.localPort();

    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)});
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
    const QProcessEnvironment environnement = heureParSeconde();
    if (environnement.isEmpty())
        QSKIP("libfaketime est absente");
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, environnement);
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));

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

void TestCollecteur::deBoutEnBout()
{
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)});
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));

    ClientAffichage client;
    QVERIFY2(client.connecter(), qPrintable(client.erreur()));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 1, 10000);

    QUdpSocket agentA;
    QUdpSocket agentB;
    QVERIFY2(agentA.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agentA.errorString()));
    QVERIFY2(agentB.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0), qPrintable(agentB.errorString()));
    // Agent A skips number 3: one loss line for it.
    const QList<QPair<QUdpSocket *, quint32>> envois{{&agentA, 1}, {&agentB, 1}, {&agentA, 2},
                                                     {&agentB, 2}, {&agentA, 4}, {&agentB, 3}};
    QStringList attendus;
    for (int i = 0; i < envois.size(); ++i) {
        const QString nom = QStringLiteral("hv-%1-%2").arg(envois.at(i).first == &agentA ? QLatin1Char('a') : QLatin1Char('b')).arg(envois.at(i).second);
        const QByteArray texte = rapport(nom, i % 3);
        envois.at(i).first->writeDatagram(datagramme(envois.at(i).second, texte), QHostAddress::LocalHost, port);
        attendus << QString::fromLatin1(texte);
        // One at a time, so that the two agents' order is the order sent.
        QVERIFY2(client.attendreRapports(i + 1), qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
    }
    QCOMPARE(client.rapports(), attendus);

    QCOMPARE(::kill(pid_t(collecteur.processus().processId()), SIGTERM), 0);
    QVERIFY(collecteur.processus().waitForFinished(30000));
    QCOMPARE(collecteur.processus().exitStatus(), QProcess::NormalExit);
    QCOMPARE(collecteur.processus().exitCode(), 0);

    const auto fichiers = sauvegardes(collecteur.dossier());
    QCOMPARE(fichiers.size(), 1);
    QCOMPARE(hyperviseursSauvegardes(fichiers.first().first),
             (QStringList{QStringLiteral("hv-b-1/hv-b-1-vm0"), QStringLiteral("hv-a-2/hv-a-2-vm0,hv-a-2-vm1"),
                          QStringLiteral("hv-a-4/hv-a-4-vm0"), QStringLiteral("hv-b-3/hv-b-3-vm0,hv-b-3-vm1")}));
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("comptage"));
        base.setDatabaseName(fichiers.first().first);
        QVERIFY(base.open());
        QSqlQuery requete(QStringLiteral("SELECT (SELECT count(*) FROM InfosHyperviseurs), (SELECT count(*) FROM InfosVMs)"), base);
        QVERIFY(requete.next());
        QCOMPARE(requete.value(0).toInt(), 6);
        QCOMPARE(requete.value(1).toInt(), 6);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("comptage"));

    const QStringList lignes = collecteur.lignes();
    for (const QString &ligne : lignes)
        QVERIFY2(ligneAttendue(ligne), qPrintable(ligne));
    QCOMPARE(lignes.first(), QStringLiteral("\"Ecoute sur le port %1\" ").arg(port));
    QCOMPARE(lignes.filter(QStringLiteral("Réception de  ")).size(), 6);
    QCOMPARE(lignes.filter(QStringLiteral(". Transmission des données à  \"127.0.0.1\" ")).size(), 6);
    const int perte = lignes.indexOf(QStringLiteral("\"127.0.0.2\" :  \"1 paquet(s) perdu(s).\" "));
    QVERIFY(perte > 0);
    QCOMPARE(lignes.filter(QStringLiteral("paquet(s) perdu(s)")).size(), 1);
    // The connection threads write their lines at the same time as the
    // reception thread: the next reception line is the datagram's own.
    int reception = perte + 1;
    while (reception < lignes.size() && !lignes.at(reception).startsWith(QStringLiteral("Réception de  ")))
        ++reception;
    QCOMPARE(lignes.value(reception), QStringLiteral("Réception de  \"127.0.0.2  SeqNb:4\" "));
    const auto premiere = [&lignes](const QString &debut) {
        for (int i = 0; i < lignes.size(); ++i) {
            if (lignes.at(i).startsWith(debut))
                return i;
        }
        return -1;
    };
    const int connexion = premiere(QStringLiteral("Nouvelle connexion :  "));
    QVERIFY(connexion > 0);
    QVERIFY(connexion < premiere(QStringLiteral("Thread:  ")));
}

void TestCollecteur::arretParSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestCollecteur::arretParSignal()
{
    QFETCH(int, signal);
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)});
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));

    // No display client: the reports are still stored.
    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
    for (quint32 numero = 1; numero <= 3; ++numero)
        agent.writeDatagram(datagramme(numero, rapport(QStringLiteral("hv-%1").arg(numero), 1)), QHostAddress::LocalHost, port);
    QVERIFY(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.2  SeqNb:3\" ")));

    const pid_t pid = pid_t(collecteur.processus().processId());
    QCOMPARE(::kill(pid, signal), 0);
    // A second request while the first stop runs changes nothing.
    ::kill(pid, signal);
    QVERIFY(collecteur.processus().waitForFinished(30000));
    QCOMPARE(collecteur.processus().exitStatus(), QProcess::NormalExit);
    QCOMPARE(collecteur.processus().exitCode(), 0);

    const auto fichiers = sauvegardes(collecteur.dossier());
    QCOMPARE(fichiers.size(), 1);
    QCOMPARE(hyperviseursSauvegardes(fichiers.first().first),
             (QStringList{QStringLiteral("hv-1/hv-1-vm0"), QStringLiteral("hv-2/hv-2-vm0"), QStringLiteral("hv-3/hv-3-vm0")}));
    for (const QString &ligne : collecteur.lignes())
        QVERIFY2(ligneAttendue(ligne), qPrintable(ligne));
}

void TestCollecteur::clientEnCoursDeRoute()
{
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)});
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));

    ClientAffichage premier;
    QVERIFY2(premier.connecter(), qPrintable(premier.erreur()));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 1, 10000);
    agent.writeDatagram(datagramme(1, "un"), QHostAddress::LocalHost, port);
    QVERIFY(premier.attendreRapports(1));

    ClientAffichage second;
    QVERIFY2(second.connecter(), qPrintable(second.erreur()));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 2, 10000);
    agent.writeDatagram(datagramme(2, "deux"), QHostAddress::LocalHost, port);
    agent.writeDatagram(datagramme(3, "trois"), QHostAddress::LocalHost, port);
    QVERIFY(premier.attendreRapports(3));
    QVERIFY(second.attendreRapports(2));
    QCOMPARE(premier.rapports(), (QStringList{QStringLiteral("un"), QStringLiteral("deux"), QStringLiteral("trois")}));
    QCOMPARE(second.rapports(), (QStringList{QStringLiteral("deux"), QStringLiteral("trois")}));
}

void TestCollecteur::limiteDeDescripteurs()
{
    // The usual limit of 1024 was enough to crash the collector with about
    // 510 idle clients; with 256, and the limit raised to nothing more, it
    // must keep its descriptors for the backup and the UDP socket.
    struct rlimit limite;
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limite), 0);
    if (limite.rlim_max < 1200)
        QSKIP("la limite de descripteurs du test est trop basse pour 1000 connexions");
    limite.rlim_cur = limite.rlim_max;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limite), 0);

    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, QProcessEnvironment::systemEnvironment(),
                                   {QStringLiteral("prlimit"), QStringLiteral("--nofile=256")});
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    QVERIFY(collecteur.attendreLigne(
        QStringLiteral("\"Limite de descripteurs de fichiers (256) : au plus 64 clients d'affichage au lieu de 256.\" ")));

    QUdpSocket agent;
    QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
    for (quint32 numero = 1; numero <= 100; ++numero)
        agent.writeDatagram(datagramme(numero, rapport(QStringLiteral("hv-%1").arg(numero), 1)), QHostAddress::LocalHost, port);
    QVERIFY(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.2  SeqNb:100\" ")));

    // All at once, as a flood would: none may be left believing it is served.
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 1000; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, 56000);
    }
    QVERIFY(collecteur.attendreLigne(QStringLiteral("\"Limite de 64 clients d'affichage atteinte : nouvelles connexions refusées.\" ")));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 64, 20000);
    agent.writeDatagram(datagramme(101, rapport(QStringLiteral("hv-101"), 1)), QHostAddress::LocalHost, port);
    const auto servis = [&clients] {
        int fermes = 0;
        int avecTrame = 0;
        for (const auto &client : clients) {
            if (client->bytesAvailable() > 5)
                ++avecTrame;
            else if (client->state() == QAbstractSocket::UnconnectedState)
                ++fermes;
        }
        return qMakePair(fermes, avecTrame);
    };
    QTRY_COMPARE_WITH_TIMEOUT(servis(), qMakePair(936, 64), 30000);
    QCOMPARE(collecteur.processus().state(), QProcess::Running);

    clients.clear();
    QVERIFY(collecteur.attendreLigne(
        QStringLiteral("\"Clients d'affichage de nouveau acceptés (936 connexion(s) refusée(s) entre-temps).\" "), 20000));
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    const auto fichiers = sauvegardes(collecteur.dossier());
    QCOMPARE(fichiers.size(), 1);
    QCOMPARE(lignesSaines(fichiers.first().first), 101);
}

void TestCollecteur::limiteDeThreads()
{
    // Threads are limited per user, and root is exempt: the collector runs
    // as nobody here, under a limit that leaves room for its own threads
    // (four, and one more of Qt 6's) and at most one client.
    if (::geteuid() != 0)
        QSKIP("il faut être root pour lancer le collecteur sous un autre utilisateur");
    QTemporaryDir dossier;
    QVERIFY(QFile::setPermissions(dossier.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::WriteOther
                                                      | QFileDevice::ExeOther));
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, QProcessEnvironment::systemEnvironment(),
                                   {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                    QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("prlimit"),
                                    QStringLiteral("--nproc=5")},
                                   dossier.path());
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    QTRY_VERIFY(collecteur.lignes().contains(QStringLiteral("  SUPPORTE le renvoi de l'ID de la dernière ligne insérée.").prepend(QLatin1Char('"')).append(QStringLiteral("\" "))));
    const qint64 pid = collecteur.processus().processId();
    const int descripteursAuRepos = descripteursOuverts(pid);

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, 56000);
        QVERIFY2(clients.back()->waitForConnected(10000), qPrintable(clients.back()->errorString()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 5, 10000);
    const QStringList refus = collecteur.lignes().filter(QStringLiteral("Connexion fermée, son thread n'a pas pu démarrer :  "));
    QVERIFY2(refus.size() >= 1, qPrintable(collecteur.console()));
    // The server closed them first: they cannot linger in CLOSE_WAIT.
    const auto fermes = [&clients] {
        int nombre = 0;
        for (const auto &client : clients) {
            nombre += client->state() == QAbstractSocket::UnconnectedState ? 1 : 0;
        }
        return nombre;
    };
    QTRY_COMPARE(fermes(), int(refus.size()));

    clients.clear();
    QTRY_COMPARE(descripteursOuverts(pid), descripteursAuRepos);
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
}

void TestCollecteur::arretBrutalPendantSauvegarde_data()
{
    QTest::addColumn<int>("delai");
    QTest::addColumn<bool>("interrompue");
    QTest::newRow("des que le fichier existe") << 0 << true;
    QTest::newRow("pendant la copie") << 40 << false;
    QTest::newRow("vers la fin") << 150 << false;
}

void TestCollecteur::arretBrutalPendantSauvegarde()
{
    QFETCH(int, delai);
    QFETCH(bool, interrompue);
    // Without the journal, what the crash left is all there is of those rows.
    const QString sansJournal = QStringLiteral("--journal=aucun");
    QTemporaryDir dossier;
    const quint16 port = portUdpLibre();
    {
        ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port), sansJournal}, QProcessEnvironment::systemEnvironment(), {},
                                       dossier.path());
        QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
        QUdpSocket agent;
        QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), qPrintable(agent.errorString()));
        // Enough rows for the final backup to take a while.
        const quint32 nombre = 8000;
        for (quint32 numero = 1; numero <= nombre; ++numero) {
            agent.writeDatagram(datagramme(numero, rapport(QStringLiteral("hv-%1").arg(numero), 20)), QHostAddress::LocalHost, port);
            if (numero % 500 == 0)
                QVERIFY(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.2  SeqNb:%1\" ").arg(numero), 30000));
        }

        QCOMPARE(::kill(pid_t(collecteur.processus().processId()), SIGTERM), 0);
        QDeadlineTimer limite(30000);
        while (QDir(dossier.path()).entryList({QStringLiteral("*.en-cours")}, QDir::Files).isEmpty() && !limite.hasExpired()
               && collecteur.processus().state() == QProcess::Running)
            QThread::usleep(500);
        QThread::msleep(delai);
        ::kill(pid_t(collecteur.processus().processId()), SIGKILL);
        QVERIFY(collecteur.processus().waitForFinished(10000));
    }

    // Whatever the moment, a backup name holds a sound database.
    for (const auto &sauvegarde : sauvegardes(dossier.path()))
        QVERIFY2(lignesSaines(sauvegarde.first) >= 0, qPrintable(sauvegarde.first));

    // The next start sets aside what the crash left.
    const QStringList restes = QDir(dossier.path()).entryList({QStringLiteral("*.en-cours")}, QDir::Files);
    if (interrompue)
        QCOMPARE(restes.size(), 1);
    ProcessusCollecteur suivant({QStringLiteral("--port=%1").arg(port), sansJournal}, QProcessEnvironment::systemEnvironment(), {}, dossier.path());
    QVERIFY2(suivant.attendreDemarrage(port), qPrintable(suivant.console()));
    for (const QString &reste : restes) {
        QString aCote = reste;
        aCote.replace(QStringLiteral(".en-cours"), QStringLiteral(".interrompue"));
        QVERIFY(suivant.attendreLigne(QStringLiteral("\"Sauvegarde interrompue par un arrêt brutal : %1 mise de côté sous le "
                                                     "nom %2, elle peut être incomplète.\" ")
                                          .arg(reste, aCote)));
    }
    QVERIFY2(suivant.arreter(), qPrintable(suivant.console()));
    QVERIFY(QDir(dossier.path()).entryList({QStringLiteral("*.en-cours")}, QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TestCollecteur)
#include "tst_collecteur.moc"
