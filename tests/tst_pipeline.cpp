// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "Collecteur.h"
#include "DatagrammeRapport.h"
#include "FichierSauvegarde.h"
#include "LecteurTrames.h"
#include "LectureSql.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// An agent on a loopback address of its own, numbering its reports from 1.
class Agent
{
public:
    explicit Agent(int hote) : m_adresse(QStringLiteral("127.0.0.%1").arg(hote))
    {
        QVERIFY2(m_socket.bind(QHostAddress(m_adresse), 0), qPrintable(m_socket.errorString()));
    }
    // The report text sent: a hypervisor named after the agent and its number.
    QString envoyer(quint16 port, int vms)
    {
        ++m_sequence;
        QString texte = QStringLiteral(R"({"name":"%1-%2","time":1700000000,"cpu":12.5,"vms":[)").arg(m_adresse).arg(m_sequence);
        for (int i = 0; i < vms; ++i)
            texte += QStringLiteral(R"(%1{"name":"vm%2","ram":1024})").arg(i ? QStringLiteral(",") : QString()).arg(i);
        texte += QStringLiteral("]}");
        const QByteArray datagramme = DatagrammeRapport::ecrire(m_sequence, texte.toLatin1());
        if (m_socket.writeDatagram(datagramme, QHostAddress::LocalHost, port) != datagramme.size())
            qWarning("envoi impossible : %s", qPrintable(m_socket.errorString()));
        return texte;
    }
    QString ligneReception() const
    {
        return QStringLiteral("Réception de  \"%1  SeqNb:%2\" ").arg(m_adresse).arg(m_sequence);
    }

private:
    QString m_adresse;
    QUdpSocket m_socket;
    quint32 m_sequence = 0;
};

// A display client reading the collector's frames.
class ClientAffichage
{
public:
    explicit ClientAffichage(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY2(m_socket.waitForConnected(10000), qPrintable(m_socket.errorString()));
    }
    QStringList rapports()
    {
        m_lecteur.ajouter(m_socket.readAll());
        QString texte;
        LecteurTrames::Resultat resultat;
        while ((resultat = m_lecteur.lire(texte)) == LecteurTrames::TrameLue)
            m_rapports << texte;
        if (resultat == LecteurTrames::Erreur)
            m_rapports << QStringLiteral("<erreur : %1>").arg(m_lecteur.erreur());
        return m_rapports;
    }
    QAbstractSocket::SocketState etat() const { return m_socket.state(); }

private:
    QTcpSocket m_socket;
    LecteurTrames m_lecteur;
    QStringList m_rapports;
};

// The backup files of the current directory, oldest first.
QStringList sauvegardes()
{
    QStringList noms = QDir::current().entryList({FichierSauvegarde::filtreNoms()}, QDir::Files);
    noms.erase(std::remove_if(noms.begin(), noms.end(), [](const QString &nom) { return !FichierSauvegarde::estNom(nom); }),
               noms.end());
    std::stable_sort(noms.begin(), noms.end(), [](const QString &a, const QString &b) {
        return FichierSauvegarde::instant(a) < FichierSauvegarde::instant(b);
    });
    return noms;
}

// One "hypervisor/its VM count" a row, in the order stored.
QStringList hyperviseurs(const QString &fichier)
{
    QStringList resultat;
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lecture"));
        base.setDatabaseName(fichier);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!base.open())
            qFatal("%s : %s", qPrintable(base.lastError().text()), qPrintable(fichier));
        const Lignes lignes = lire(base, QStringLiteral("SELECT h.name, (SELECT count(*) FROM InfosVMs v WHERE v.idinfos = h.id) "
                                                        "FROM InfosHyperviseurs h ORDER BY h.id"));
        for (const QVariantList &ligne : lignes)
            resultat << ligne.at(0).toString() + QLatin1Char('/') + ligne.at(1).toString();
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lecture"));
    return resultat;
}

QString nomStocke(const QString &rapport, int vms)
{
    const int debut = rapport.indexOf(QLatin1String("\"name\":\"")) + 8;
    return rapport.mid(debut, rapport.indexOf(QLatin1Char('"'), debut) - debut) + QLatin1Char('/') + QString::number(vms);
}

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deBoutEnBout_data();
    void deBoutEnBout();
    void sauvegardeEnService();
    void arretSansAttendre();
    void arretALaDestruction();
    void portUdpPris();
    void portAffichagePris();

private:
    bool demarrer(Collecteur::Parametres parametres = Collecteur::Parametres());
    int lignesCommencantPar(const QString &debut) const;
    QString console() const { return m_console->lignes().join(QLatin1Char('\n')); }

    std::unique_ptr<QTemporaryDir> m_dossier;
    QString m_dossierPrecedent;
    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<Collecteur> m_collecteur;
};

void TestPipeline::init()
{
    // Backups and the journal go in the current directory.
    m_dossier = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dossier->isValid());
    m_dossierPrecedent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dossier->path()));
    m_console = std::make_unique<CaptureConsole>();
}

void TestPipeline::cleanup()
{
    m_collecteur.reset();
    const QStringList avertissements = m_console->lignes().filter(QStringLiteral("[avertissement]"));
    m_console.reset();
    QDir::setCurrent(m_dossierPrecedent);
    m_dossier.reset();
    QVERIFY2(avertissements.isEmpty(), qPrintable(avertissements.join(QLatin1Char('\n'))));
}

bool TestPipeline::demarrer(Collecteur::Parametres parametres)
{
    parametres.portUdp = 0;
    if (parametres.portAffichage == Collecteur::Parametres().portAffichage)
        parametres.portAffichage = 0;
    m_collecteur = std::make_unique<Collecteur>(parametres);
    return m_collecteur->demarrer();
}

int TestPipeline::lignesCommencantPar(const QString &debut) const
{
    const QStringList lignes = m_console->lignes();
    return int(std::count_if(lignes.begin(), lignes.end(), [&debut](const QString &ligne) { return ligne.startsWith(debut); }));
}

void TestPipeline::deBoutEnBout_data()
{
    QTest::addColumn<int>("agents");
    QTest::addColumn<int>("clients");
    QTest::addColumn<bool>("journal");

    QTest::newRow("un agent, un client") << 1 << 1 << true;
    QTest::newRow("trois agents, deux clients") << 3 << 2 << true;
    QTest::newRow("deux agents, sans client") << 2 << 0 << true;
    QTest::newRow("trois agents, sans journal") << 3 << 2 << false;
}

void TestPipeline::deBoutEnBout()
{
    QFETCH(int, agents);
    QFETCH(int, clients);
    QFETCH(bool, journal);

    Collecteur::Parametres parametres;
    parametres.journal = journal;
    QVERIFY2(demarrer(parametres), qPrintable(console()));
    QCOMPARE(m_console->lignes().value(0), QStringLiteral("\"Ecoute sur le port 0\" "));
    QVERIFY(m_collecteur->portUdp() != 0);

    std::vector<std::unique_ptr<ClientAffichage>> affichages;
    for (int i = 0; i < clients; ++i)
        affichages.push_back(std::make_unique<ClientAffichage>(m_collecteur->portAffichage()));
    QTRY_COMPARE(lignesCommencantPar(QStringLiteral("Nouvelle connexion :  ")), clients);

    std::vector<std::unique_ptr<Agent>> expediteurs;
    for (int i = 0; i < agents; ++i)
        expediteurs.push_back(std::make_unique<Agent>(2 + i));
    QStringList envoyes;
    QStringList stockes;
    for (int tour = 0; tour < 20; ++tour) {
        for (auto &agent : expediteurs) {
            envoyes << agent->envoyer(m_collecteur->portUdp(), tour % 3);
            stockes << nomStocke(envoyes.last(), tour % 3);
        }
    }
    for (const auto &agent : expediteurs)
        QTRY_VERIFY2(m_console->lignes().contains(agent->ligneReception()), qPrintable(console()));
    // Loopback keeps the order of sending, across agents too.
    for (auto &affichage : affichages)
        QTRY_COMPARE(affichage->rapports(), envoyes);

    m_collecteur->arreter();
    const QStringList fichiers = sauvegardes();
    QCOMPARE(fichiers.size(), 1);
    QCOMPARE(hyperviseurs(fichiers.first()), stockes);
    // The journal's segments go once the backup holds their reports.
    QCOMPARE(QDir::current().entryList(QDir::Files), fichiers);
    for (auto &affichage : affichages)
        QTRY_COMPARE(affichage->etat(), QAbstractSocket::UnconnectedState);

    QCOMPARE(lignesCommencantPar(QStringLiteral("Réception de  ")), envoyes.size());
    QCOMPARE(lignesCommencantPar(QStringLiteral("Thread:  ")), envoyes.size() * clients);
    QCOMPARE(m_console->lignes().filter(QStringLiteral("paquet(s) perdu(s)")), QStringList());
}

void TestPipeline::sauvegardeEnService()
{
    QVERIFY2(demarrer(), qPrintable(console()));
    Agent premier(2);
    Agent second(3);
    QStringList avant;
    for (int i = 0; i < 5; ++i) {
        avant << nomStocke(premier.envoyer(m_collecteur->portUdp(), 1), 1);
        avant << nomStocke(second.envoyer(m_collecteur->portUdp(), 2), 2);
    }
    // Printed once the report is on its way to the store: it belongs to the
    // backup, even if the decoder still holds it.
    QTRY_VERIFY(m_console->lignes().contains(second.ligneReception()));
    m_collecteur->sauvegarder();
    QCOMPARE(sauvegardes().size(), 1);
    QCOMPARE(hyperviseurs(sauvegardes().first()), avant);

    QStringList apres;
    for (int i = 0; i < 3; ++i)
        apres << nomStocke(premier.envoyer(m_collecteur->portUdp(), 0), 0);
    m_collecteur->arreter();
    const QStringList fichiers = sauvegardes();
    QCOMPARE(fichiers.size(), 2);
    QCOMPARE(hyperviseurs(fichiers.at(0)), avant);
    QCOMPARE(hyperviseurs(fichiers.at(1)), apres);

    // Stopped: nothing more to back up, and a second stop does nothing.
    m_collecteur->sauvegarder();
    m_collecteur->arreter();
    QCOMPARE(sauvegardes(), fichiers);
}

void TestPipeline::arretSansAttendre()
{
    // Reports still in the kernel's buffer, the decoder's queue or on their
    // way to the display clients when the stop comes are neither lost for
    // the clients nor for the last backup.
    QVERIFY2(demarrer(), qPrintable(console()));
    ClientAffichage premier(m_collecteur->portAffichage());
    ClientAffichage second(m_collecteur->portAffichage());
    QTRY_COMPARE(lignesCommencantPar(QStringLiteral("Nouvelle connexion :  ")), 2);

    std::vector<std::unique_ptr<Agent>> expediteurs;
    for (int i = 0; i < 3; ++i)
        expediteurs.push_back(std::make_unique<Agent>(2 + i));
    QStringList envoyes;
    QStringList stockes;
    for (int tour = 0; tour < 40; ++tour) {
        for (auto &agent : expediteurs) {
            envoyes << agent->envoyer(m_collecteur->portUdp(), 4);
            stockes << nomStocke(envoyes.last(), 4);
        }
    }
    m_collecteur->arreter();

    QTRY_COMPARE(premier.etat(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.etat(), QAbstractSocket::UnconnectedState);
    QCOMPARE(premier.rapports(), envoyes);
    QCOMPARE(second.rapports(), envoyes);
    QCOMPARE(sauvegardes().size(), 1);
    QCOMPARE(hyperviseurs(sauvegardes().first()), stockes);
    QCOMPARE(lignesCommencantPar(QStringLiteral("Réception de  ")), envoyes.size());
}

void TestPipeline::arretALaDestruction()
{
    QVERIFY2(demarrer(), qPrintable(console()));
    ClientAffichage client(m_collecteur->portAffichage());
    QTRY_COMPARE(lignesCommencantPar(QStringLiteral("Nouvelle connexion :  ")), 1);
    Agent agent(2);
    const QString texte = agent.envoyer(m_collecteur->portUdp(), 3);

    m_collecteur.reset();
    QCOMPARE(sauvegardes().size(), 1);
    QCOMPARE(hyperviseurs(sauvegardes().first()), QStringList{nomStocke(texte, 3)});
    QTRY_COMPARE(client.etat(), QAbstractSocket::UnconnectedState);
    QCOMPARE(client.rapports(), QStringList{texte});
}

void TestPipeline::portUdpPris()
{
    QUdpSocket occupant;
    QVERIFY2(occupant.bind(QHostAddress::AnyIPv4, 0), qPrintable(occupant.errorString()));
    Collecteur::Parametres parametres;
    parametres.portUdp = occupant.localPort();
    parametres.portAffichage = 0;
    m_collecteur = std::make_unique<Collecteur>(parametres);

    QVERIFY(!m_collecteur->demarrer());
    const QStringList lignes = m_console->lignes();
    QCOMPARE(lignes.size(), 2);
    QCOMPARE(lignes.at(0), QStringLiteral("\"Ecoute sur le port %1\" ").arg(occupant.localPort()));
    QVERIFY2(lignes.at(1).startsWith(QStringLiteral("\"Impossible de lier le port UDP %1 : ").arg(occupant.localPort())),
             qPrintable(lignes.at(1)));

    // Nothing was started, so there is nothing to back up.
    m_collecteur.reset();
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList());
    QCOMPARE(m_console->lignes(), lignes);
}

void TestPipeline::portAffichagePris()
{
    // Without display clients the reports are still stored.
    QTcpServer occupant;
    QVERIFY2(occupant.listen(QHostAddress::AnyIPv4, 0), qPrintable(occupant.errorString()));
    Collecteur::Parametres parametres;
    parametres.portAffichage = occupant.serverPort();
    QVERIFY2(demarrer(parametres), qPrintable(console()));
    QCOMPARE(m_console->lignes().filter(QStringLiteral("Impossible d'écouter sur le port TCP %1 : ").arg(occupant.serverPort())).size(),
             1);

    Agent agent(2);
    const QString texte = agent.envoyer(m_collecteur->portUdp(), 1);
    QTRY_VERIFY(m_console->lignes().contains(agent.ligneReception()));
    m_collecteur->arreter();
    QCOMPARE(hyperviseurs(sauvegardes().value(0)), QStringList{nomStocke(texte, 1)});
}

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
