// SPDX-License-Identifier: MIT
#include "ProcessusCollecteur.h"

#include "DatagrammeRapport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

// The sqlite3 examples of the README's "Reading the backup files", each after
// a `<!-- essai sqlite3 : name -->` line: the indented block of commands, then
// the indented block of what they print. They run on the files of one day
// (08-12-2026, UTC) written by the real collector, its clock set to each hour
// in turn, with the reports of two hosts every ten minutes.
class TestLectureSauvegardes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exemples_data();
    void exemples();

private:
    struct Exemple
    {
        QString nom;
        QString commandes;
        QString attendu;
    };
    static QList<Exemple> exemplesLisezmoi(const QString &texte);
    void sauvegarderHeure(int heure);

    QTemporaryDir m_sauvegardes;
    QList<Exemple> m_exemples;
};

namespace {

const QDateTime minuit(QDate(2026, 12, 8), QTime(0, 0), Qt::UTC);

// hv-paris-01 is busiest at 14:00 UTC, each hour four points further from it
// four points less busy; every host row keeps the keys its agent sent.
QByteArray rapport(const QString &hyperviseur, const QDateTime &instant, int dixieme)
{
    const int ecart = std::abs(14 - instant.time().hour());
    QJsonObject hote{{QStringLiteral("name"), hyperviseur}, {QStringLiteral("time"), instant.toSecsSinceEpoch()}};
    QJsonArray vms;
    if (hyperviseur == QLatin1String("hv-paris-01")) {
        hote.insert(QStringLiteral("cpu"), 90.5 - 4 * ecart - 1.5 * dixieme);
        hote.insert(QStringLiteral("ram"), 60.0 + dixieme);
        hote.insert(QStringLiteral("disk"), 41.5);
        hote.insert(QStringLiteral("network"), 120.25 + dixieme);
        hote.insert(QStringLiteral("cputemp"), 48.5);
        vms.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("web-01")}, {QStringLiteral("state"), 1},
                               {QStringLiteral("cpu"), 20.5 + dixieme}, {QStringLiteral("ram"), 2097152},
                               {QStringLiteral("maxram"), 4194304}, {QStringLiteral("network"), 1.25 * dixieme}});
        vms.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("base-01")}, {QStringLiteral("state"), 1},
                               {QStringLiteral("cpu"), 35.0 + 2 * dixieme}, {QStringLiteral("ram"), 8388608},
                               {QStringLiteral("maxram"), 8388608}, {QStringLiteral("network"), 0.5}});
    } else {
        hote.insert(QStringLiteral("cpu"), 12.5);
        hote.insert(QStringLiteral("ram"), 30.0);
        vms.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("calcul-01")}, {QStringLiteral("state"), 3},
                               {QStringLiteral("cpu"), 0.0}, {QStringLiteral("ram"), 4194304},
                               {QStringLiteral("maxram"), 4194304}});
    }
    hote.insert(QStringLiteral("vms"), vms);
    return QJsonDocument(hote).toJson(QJsonDocument::Compact);
}

QString lignesSansFin(const QString &texte)
{
    QStringList lignes = texte.split(QLatin1Char('\n'));
    for (QString &ligne : lignes) {
        while (ligne.endsWith(QLatin1Char(' ')))
            ligne.chop(1);
    }
    while (!lignes.isEmpty() && lignes.last().isEmpty())
        lignes.removeLast();
    return lignes.join(QLatin1Char('\n'));
}

} // namespace

QList<TestLectureSauvegardes::Exemple> TestLectureSauvegardes::exemplesLisezmoi(const QString &texte)
{
    static const QRegularExpression marque(QStringLiteral("^<!-- essai sqlite3 : ([a-z-]+) -->$"));
    const QStringList lignes = texte.split(QLatin1Char('\n'));
    QList<Exemple> exemples;
    for (int i = 0; i < lignes.size(); ++i) {
        const QRegularExpressionMatch correspondance = marque.match(lignes.at(i));
        if (!correspondance.hasMatch())
            continue;
        Exemple exemple{correspondance.captured(1), QString(), QString()};
        // The commands, then the output: the next two indented blocks.
        for (QString *bloc : {&exemple.commandes, &exemple.attendu}) {
            while (++i < lignes.size() && !lignes.at(i).startsWith(QLatin1String("    "))) {
            }
            for (; i < lignes.size() && (lignes.at(i).startsWith(QLatin1String("    ")) || lignes.at(i).isEmpty()); ++i)
                *bloc += lignes.at(i).mid(4) + QLatin1Char('\n');
            --i;
        }
        exemples << exemple;
    }
    return exemples;
}

void TestLectureSauvegardes::sauvegarderHeure(int heure)
{
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(COLLECTEUR_FAKETIME));
    // The wall clock stands still on the hour, which names the backup; the
    // collector's timers keep the real monotonic clock.
    environnement.insert(QStringLiteral("FAKETIME"), minuit.addSecs(3600 * heure).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    environnement.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    environnement.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, environnement, QStringList(), m_sauvegardes.path());
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));

    // Each host from an address of its own, its six reports of the hour
    // before the backup.
    const QStringList hyperviseurs{QStringLiteral("hv-paris-01"), QStringLiteral("hv-paris-02")};
    for (int h = 0; h < hyperviseurs.size(); ++h) {
        QUdpSocket agent;
        QVERIFY2(agent.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(h + 2)), 0), qPrintable(agent.errorString()));
        for (int dixieme = 0; dixieme < 6; ++dixieme) {
            const QDateTime instant = minuit.addSecs(3600 * (heure - 1) + 600 * dixieme);
            agent.writeDatagram(DatagrammeRapport::ecrire(quint32(dixieme + 1), rapport(hyperviseurs.at(h), instant, dixieme)),
                                QHostAddress::LocalHost, port);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Réception de  ")).size(), 12, 10000);
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    const QString fichier = QStringLiteral("collecteur%1.db")
                                .arg(minuit.addSecs(3600 * heure).toString(QStringLiteral("dd-MM-yyyy_hh-mm-ss")));
    QVERIFY2(QFileInfo::exists(QDir(m_sauvegardes.path()).filePath(fichier)),
             qPrintable(QDir(m_sauvegardes.path()).entryList(QDir::Files).join(QLatin1Char(' '))));
}

void TestLectureSauvegardes::initTestCase()
{
    if (QStringLiteral(SQLITE3).isEmpty())
        QSKIP("sqlite3 est absent (paquet sqlite3)");
    if (QStringLiteral(COLLECTEUR_FAKETIME).isEmpty())
        QSKIP("libfaketime est absente");
    QFile lisezmoi(QStringLiteral(LISEZMOI));
    QVERIFY2(lisezmoi.open(QIODevice::ReadOnly), qPrintable(lisezmoi.errorString()));
    const QString texte = QString::fromUtf8(lisezmoi.readAll());
    m_exemples = exemplesLisezmoi(texte);
    QStringList noms;
    for (const Exemple &exemple : qAsConst(m_exemples))
        noms << exemple.nom;
    QCOMPARE(noms, QStringList({QStringLiteral("cpu-heure"), QStringLiteral("vms-dernier-rapport"), QStringLiteral("jour")}));
    // An example added without its marker would go unchecked.
    const int blocs = texte.count(QRegularExpression(QStringLiteral("\n {4}[^\n]*sqlite3 [^\n]*/var/lib/collecteur")))
                      + texte.count(QRegularExpression(QStringLiteral("\n {4}for [^\n]*/var/lib/collecteur")));
    QCOMPARE(blocs, m_exemples.size());

    QVERIFY(m_sauvegardes.isValid());
    for (int heure = 0; heure < 24; ++heure) {
        sauvegarderHeure(heure);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestLectureSauvegardes::exemples_data()
{
    QTest::addColumn<QString>("commandes");
    QTest::addColumn<QString>("attendu");
    for (const Exemple &exemple : qAsConst(m_exemples))
        QTest::newRow(qPrintable(exemple.nom)) << exemple.commandes << exemple.attendu;
}

void TestLectureSauvegardes::exemples()
{
    QFETCH(QString, commandes);
    QFETCH(QString, attendu);
    // The operator's home directory, where the day file goes.
    QTemporaryDir maison;
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert(QStringLiteral("HOME"), maison.path());
    environnement.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(SQLITE3)).path() + QStringLiteral(":/usr/bin:/bin"));
    QProcess shell;
    shell.setProcessEnvironment(environnement);
    shell.setWorkingDirectory(maison.path());
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-e"), QStringLiteral("-c"),
                 commandes.replace(QStringLiteral("/var/lib/collecteur"), m_sauvegardes.path())});
    QVERIFY2(shell.waitForFinished(60000), qPrintable(commandes));
    const QString erreurs = QString::fromUtf8(shell.readAllStandardError());
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0, qPrintable(erreurs));
    QVERIFY2(erreurs.isEmpty(), qPrintable(erreurs));
    QCOMPARE(lignesSansFin(QString::fromUtf8(shell.readAllStandardOutput())), lignesSansFin(attendu));
}

QTEST_GUILESS_MAIN(TestLectureSauvegardes)
#include "tst_lecturesauvegardes.moc"
