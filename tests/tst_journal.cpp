// SPDX-License-Identifier: MIT
#include "MontageTmpfs.h"
#include "ProcessusCollecteur.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QThread>
#include <QtEndian>

#include <atomic>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray rapportNumerote(int numero)
{
    return QStringLiteral(R"({"name":"j-%1","time":%1,"cpu":1.5,"vms":[{"name":"j-%1-vm","ram":1}]})").arg(numero).toLatin1();
}

QByteArray enregistrement(const QByteArray &rapport)
{
    char entete[6];
    qToBigEndian<quint32>(quint32(rapport.size()), entete);
    qToBigEndian<quint16>(qChecksum(rapport.constData(), uint(rapport.size())), entete + 4);
    return QByteArray(entete, 6) + rapport;
}

// An agent in a thread of its own, numbering its reports and noting when
// each left.
class Emetteur
{
public:
    Emetteur(quint16 port, int parSeconde) : m_port(port), m_intervalle(1000000 / parSeconde)
    {
        m_horloge.start();
        m_envois.reserve(100000);
        m_thread = std::thread([this] { envoyer(); });
    }
    ~Emetteur() { arreter(); }
    void arreter()
    {
        m_fin = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    qint64 maintenant() const { return m_horloge.elapsed(); }
    // The numbers sent between two instants.
    QList<int> envoyesEntre(qint64 debut, qint64 fin)
    {
        QMutexLocker verrou(&m_mutex);
        QList<int> numeros;
        for (int i = 0; i < int(m_envois.size()); ++i) {
            if (m_envois[size_t(i)] >= debut && m_envois[size_t(i)] <= fin)
                numeros << i;
        }
        return numeros;
    }

private:
    void envoyer()
    {
        const int descripteur = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in cible{};
        cible.sin_family = AF_INET;
        cible.sin_port = htons(m_port);
        cible.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (quint32 numero = 0; !m_fin; ++numero) {
            const QByteArray datagramme = DatagrammeRapportEssai(numero, rapportNumerote(int(numero)));
            {
                QMutexLocker verrou(&m_mutex);
                m_envois.push_back(m_horloge.elapsed());
            }
            ::sendto(descripteur, datagramme.constData(), size_t(datagramme.size()), 0,
                     reinterpret_cast<const sockaddr *>(&cible), sizeof cible);
            std::this_thread::sleep_for(std::chrono::microseconds(m_intervalle));
        }
        ::close(descripteur);
    }
    static QByteArray DatagrammeRapportEssai(quint32 sequence, const QByteArray &texte)
    {
        char entete[4];
        qToBigEndian<quint32>(sequence, entete);
        return QByteArray(entete, 4) + texte;
    }

    quint16 m_port;
    int m_intervalle;
    QElapsedTimer m_horloge;
    QMutex m_mutex;
    std::vector<qint64> m_envois;
    std::atomic<bool> m_fin{false};
    std::thread m_thread;
};

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void arretPropre();
    void finEndommagee();
    void sauvegardesSousCharge();
    void arretsBrutauxRepetes();
    void disquePlein();
    void dossierEnLectureSeule();
};

void TestJournal::arretPropre()
{
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)});
    QVERIFY2(collecteur.attendreLigne(derniereLigneDuPilote()), qPrintable(collecteur.console()));
    QUdpSocket agent;
    for (int numero = 1; numero <= 3; ++numero)
        agent.writeDatagram(QByteArray(4, 0) + rapportNumerote(numero), QHostAddress::LocalHost, port);
    QVERIFY(collecteur.attendreLigne(QStringLiteral("Réception de  \"127.0.0.1  SeqNb:0\" ")));
    QTRY_VERIFY(!QDir(collecteur.dossier()).entryList({QStringLiteral("*.journal")}).isEmpty());

    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    // As before the journal: the backup files alone.
    const QStringList restes = QDir(collecteur.dossier()).entryList(QDir::Files);
    QCOMPARE(restes.size(), 1);
    QCOMPARE(lignesDesSauvegardes(collecteur.dossier()).size(), 3);
    QVERIFY(collecteur.lignes().filter(QStringLiteral("Journal")).isEmpty());
}

void TestJournal::finEndommagee()
{
    QTemporaryDir dossier;
    QFile journal(QDir(dossier.path()).filePath(QStringLiteral("collecteur-4.journal")));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write("CJRNL001" + enregistrement(rapportNumerote(1)) + enregistrement(rapportNumerote(2))
                  + enregistrement(rapportNumerote(3)).left(7));
    journal.close();

    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, QProcessEnvironment::systemEnvironment(), {},
                                   dossier.path());
    QVERIFY2(collecteur.attendreLigne(ligneRelectureJournal(2, 7)), qPrintable(collecteur.console()));
    // Read back without being relayed or printed again.
    QVERIFY(collecteur.lignes().filter(QStringLiteral("Réception")).isEmpty());
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));

    QCOMPARE(lignesDesSauvegardes(dossier.path()),
             (QHash<QString, int>{{QStringLiteral("j-1"), 1}, {QStringLiteral("j-2"), 1}}));
    QCOMPARE(QDir(dossier.path()).entryList({QStringLiteral("*journal*")}, QDir::Files), QStringList());
}

void TestJournal::sauvegardesSousCharge()
{
    // A backup every second while reports keep coming: each lands in one
    // file, the one after the backup it arrived during.
    const QProcessEnvironment environnement = heureParSeconde();
    if (environnement.isEmpty())
        QSKIP("libfaketime est absente");
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, environnement);
    QVERIFY2(collecteur.attendreLigne(derniereLigneDuPilote()), qPrintable(collecteur.console()));
    Emetteur emetteur(port, 400);
    QTRY_VERIFY_WITH_TIMEOUT(sauvegardes(collecteur.dossier()).size() >= 4, 20000);
    emetteur.arreter();
    const int envoyes = emetteur.envoyesEntre(0, emetteur.maintenant()).size();
    QTRY_COMPARE(collecteur.lignes().filter(QStringLiteral("Réception de")).size(), envoyes);
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));

    const QHash<QString, int> lignes = lignesDesSauvegardes(collecteur.dossier());
    QCOMPARE(lignes.size(), envoyes);
    for (auto ligne = lignes.cbegin(); ligne != lignes.cend(); ++ligne)
        QVERIFY2(ligne.value() == 1, qPrintable(QStringLiteral("%1 stocké %2 fois").arg(ligne.key()).arg(ligne.value())));
    int fichiersAvecLignes = 0;
    for (const auto &sauvegarde : sauvegardes(collecteur.dossier())) {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("compte"));
        base.setDatabaseName(sauvegarde.first);
        QVERIFY(base.open());
        QSqlQuery requete(QStringLiteral("SELECT count(*) FROM InfosHyperviseurs"), base);
        fichiersAvecLignes += requete.next() && requete.value(0).toInt() > 0 ? 1 : 0;
        requete = QSqlQuery();
        base.close();
        base = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("compte"));
    }
    QVERIFY2(fichiersAvecLignes >= 3, QByteArray::number(fichiersAvecLignes));
}

void TestJournal::arretsBrutauxRepetes()
{
    // A backup every second, so that kills land before, during and after
    // backups as well as between them.
    const QProcessEnvironment environnement = heureParSeconde();
    if (environnement.isEmpty())
        QSKIP("libfaketime est absente");

    QTemporaryDir dossier;
    const quint16 port = portUdpLibre();
    Emetteur emetteur(port, 300);
    // Reports that must be stored: sent while a collector ran, more than
    // a second before it was killed.
    QList<QPair<qint64, qint64>> fenetres;
    QElapsedTimer duree;
    duree.start();
    int arrets = 0;
    while (duree.elapsed() < 25000 && arrets < 10) {
        ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, environnement, {}, dossier.path());
        QVERIFY2(collecteur.attendreLigne(derniereLigneDuPilote()), qPrintable(collecteur.console()));
        const qint64 debut = emetteur.maintenant();
        // The line comes once what the journal held is stored again, which
        // may be well after the driver's lines.
        if (arrets > 0)
            QTRY_VERIFY2_WITH_TIMEOUT(
                !collecteur.lignes().filter(QStringLiteral("Journal relu après un arrêt brutal")).isEmpty(),
                qPrintable(collecteur.console()), 15000);
        QThread::msleep(300 + QRandomGenerator::global()->bounded(2200));
        const qint64 fin = emetteur.maintenant();
        ::kill(pid_t(collecteur.processus().processId()), SIGKILL);
        QVERIFY(collecteur.processus().waitForFinished(10000));
        fenetres << qMakePair(debut, fin - 1000);
        ++arrets;
    }
    {
        ProcessusCollecteur dernier({QStringLiteral("--port=%1").arg(port)}, environnement, {}, dossier.path());
        QVERIFY2(dernier.attendreLigne(derniereLigneDuPilote()), qPrintable(dernier.console()));
        const qint64 debut = emetteur.maintenant();
        // Long enough that the test counts over a thousand reports whatever
        // the random kills left.
        QTRY_VERIFY_WITH_TIMEOUT(emetteur.maintenant() - debut > 4000, 10000);
        emetteur.arreter();
        const qint64 fin = emetteur.maintenant();
        QTRY_VERIFY(dernier.lignes().filter(QStringLiteral("Réception de")).size() > 0);
        // The last datagrams have time to be read before the stop.
        QTest::qWait(300);
        QVERIFY2(dernier.arreter(), qPrintable(dernier.console()));
        fenetres << qMakePair(debut, fin);
    }

    const QHash<QString, int> lignes = lignesDesSauvegardes(dossier.path());
    for (auto ligne = lignes.cbegin(); ligne != lignes.cend(); ++ligne)
        QVERIFY2(ligne.value() == 1, qPrintable(QStringLiteral("%1 stocké %2 fois").arg(ligne.key()).arg(ligne.value())));
    int attendus = 0;
    for (const auto &fenetre : qAsConst(fenetres)) {
        for (int numero : emetteur.envoyesEntre(fenetre.first, fenetre.second)) {
            ++attendus;
            QVERIFY2(lignes.contains(QStringLiteral("j-%1").arg(numero)),
                     qPrintable(QStringLiteral("j-%1 perdu (%2 arrêts brutaux)").arg(numero).arg(arrets)));
        }
    }
    QVERIFY(attendus > 1000);
    QCOMPARE(QDir(dossier.path()).entryList({QStringLiteral("*journal*"), QStringLiteral("*.en-cours")}, QDir::Files),
             QStringList());
}

void TestJournal::disquePlein()
{
    MontageTmpfs montage(QStringLiteral("size=1m"));
    if (!montage.monte())
        QSKIP("il faut être root pour monter un petit système de fichiers");
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, QProcessEnvironment::systemEnvironment(), {},
                                   montage.dossier());
    QVERIFY2(collecteur.attendreLigne(derniereLigneDuPilote()), qPrintable(collecteur.console()));

    // Everything taken.
    const QString remplissage = QDir(montage.dossier()).filePath(QStringLiteral("remplissage"));
    QVERIFY(montage.remplir(QStringLiteral("remplissage")));
    QUdpSocket agent;
    for (int numero = 1; numero <= 200; ++numero)
        agent.writeDatagram(QByteArray(4, 0) + rapportNumerote(numero), QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(!collecteur.lignes().filter(QStringLiteral("Le collecteur continue sans journal")).isEmpty(), 10000);
    QVERIFY2(collecteur.lignes().filter(QStringLiteral("\"Journal collecteur-1.journal : impossible de ")).size() == 1,
             qPrintable(collecteur.console()));
    QCOMPARE(collecteur.lignes().filter(QStringLiteral("No space left on device")).size(), 1);

    // Once there is room again, nothing already stored is lost.
    QVERIFY(QFile::remove(remplissage));
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    QCOMPARE(lignesDesSauvegardes(montage.dossier()).size(), 200);
}

void TestJournal::dossierEnLectureSeule()
{
    MontageTmpfs montage(QStringLiteral("size=4m"));
    if (!montage.monte())
        QSKIP("il faut être root pour monter un petit système de fichiers");
    // Read-only even for root, and before the collector holds anything there.
    QVERIFY(montage.lectureSeule(true));
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, QProcessEnvironment::systemEnvironment(), {},
                                   montage.dossier());
    QVERIFY2(collecteur.attendreLigne(derniereLigneDuPilote()), qPrintable(collecteur.console()));
    QVERIFY2(collecteur.attendreLigne(QStringLiteral(
                 "\"Journal collecteur-1.journal : impossible de créer (Read-only file system). Le collecteur continue "
                 "sans journal : un arrêt brutal perdrait les rapports reçus depuis la dernière sauvegarde.\" ")),
             qPrintable(collecteur.console()));
    QUdpSocket agent;
    for (int numero = 1; numero <= 3; ++numero)
        agent.writeDatagram(QByteArray(4, 0) + rapportNumerote(numero), QHostAddress::LocalHost, port);
    QTRY_COMPARE(collecteur.lignes().filter(QStringLiteral("Réception de")).size(), 3);
    QCOMPARE(collecteur.processus().state(), QProcess::Running);

    // The rows wait in memory for a directory where they can be written.
    QVERIFY(montage.lectureSeule(false));
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    QCOMPARE(lignesDesSauvegardes(montage.dossier()).size(), 3);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
