// SPDX-License-Identifier: MIT
#include "ProcessusCollecteur.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>

class TestSondeCollecteur : public QObject
{
    Q_OBJECT

private slots:
    void deBoutEnBout_data();
    void deBoutEnBout();
};

void TestSondeCollecteur::deBoutEnBout_data()
{
    QTest::addColumn<bool>("signe");
    QTest::newRow("sans-cle") << false;
    // The agent's own fresh key, given to both sides.
    QTest::newRow("signe") << true;
}

void TestSondeCollecteur::deBoutEnBout()
{
    QFETCH(bool, signe);

    QTemporaryDir cles;
    QStringList optionsCollecteur;
    QStringList optionsSonde;
    if (signe) {
        QProcess nouvelle;
        nouvelle.start(QStringLiteral(SONDE_BINAIRE), {QStringLiteral("--nom=hv-sonde"), QStringLiteral("--nouvelle-cle")});
        QVERIFY(nouvelle.waitForFinished(10000));
        QCOMPARE(nouvelle.exitCode(), 0);
        const QByteArray ligne = nouvelle.readAllStandardOutput();
        QVERIFY2(ligne.startsWith("hv-sonde "), ligne.constData());
        QFile fichier(cles.filePath(QStringLiteral("cle")));
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        fichier.write(ligne);
        fichier.close();
        QVERIFY(fichier.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        optionsCollecteur << QStringLiteral("--cles=") + fichier.fileName();
        optionsSonde << QStringLiteral("--cle=") + fichier.fileName();
    }
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur(QStringList{QStringLiteral("--port=%1").arg(port)} + optionsCollecteur);
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));

    QProcess afficheur;
    afficheur.start(QStringLiteral(AFFICHEUR_BINAIRE), {QStringLiteral("--brut"), QStringLiteral("--nombre=2")});
    QVERIFY2(afficheur.waitForStarted(10000), qPrintable(afficheur.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 1, 10000);

    QProcess sonde;
    sonde.start(QStringLiteral(SONDE_BINAIRE),
                QStringList{QStringLiteral("--collecteur=127.0.0.1:%1").arg(port), QStringLiteral("--intervalle=0.3"),
                            QStringLiteral("--nom=hv-sonde"), QStringLiteral("--libvirt=test:///default"),
                            QStringLiteral("--racine=" RACINES "/invites/apres")}
                    + optionsSonde);
    QVERIFY2(sonde.waitForStarted(10000), qPrintable(sonde.errorString()));

    QVERIFY2(afficheur.waitForFinished(30000), qPrintable(collecteur.console()));
    QCOMPARE(afficheur.exitCode(), 0);
    const QList<QByteArray> trames = afficheur.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(trames.size(), 2);
    for (const QByteArray &trame : trames) {
        const QJsonObject rapport = QJsonDocument::fromJson(trame).object();
        QCOMPARE(rapport.value(QStringLiteral("name")).toString(), QStringLiteral("hv-sonde"));
        QCOMPARE(rapport.value(QStringLiteral("vms")).toArray().first().toObject().value(QStringLiteral("name")).toString(),
                 QStringLiteral("test"));
    }
    sonde.kill();
    sonde.waitForFinished();

    QCOMPARE(::kill(pid_t(collecteur.processus().processId()), SIGTERM), 0);
    QVERIFY(collecteur.processus().waitForFinished(30000));
    QCOMPARE(collecteur.processus().exitCode(), 0);

    // Numbered from 0, so no loss line for a newly started agent.
    const QStringList lignes = collecteur.lignes();
    QVERIFY2(lignes.contains(QStringLiteral("Réception de  \"127.0.0.1  SeqNb:0\" ")), qPrintable(collecteur.console()));
    QVERIFY2(lignes.contains(QStringLiteral("Réception de  \"127.0.0.1  SeqNb:1\" ")), qPrintable(collecteur.console()));
    QVERIFY2(lignes.filter(QStringLiteral("paquet(s) perdu(s)")).isEmpty(), qPrintable(collecteur.console()));
    QVERIFY2(lignes.filter(QStringLiteral("refusé")).isEmpty(), qPrintable(collecteur.console()));

    const auto fichiers = sauvegardes(collecteur.dossier());
    QCOMPARE(fichiers.size(), 1);
    const QStringList hyperviseurs = hyperviseursSauvegardes(fichiers.first().first);
    QVERIFY2(hyperviseurs.size() >= 2, qPrintable(hyperviseurs.join(QLatin1Char(' '))));
    for (const QString &hyperviseur : hyperviseurs)
        QCOMPARE(hyperviseur, QStringLiteral("hv-sonde/test"));
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("valeurs"));
        base.setDatabaseName(fichiers.first().first);
        QVERIFY(base.open());
        QSqlQuery requete(QStringLiteral("SELECT h.ram, h.cputemp, h.mbtemp, v.uuid, v.state, v.ram, v.maxram "
                                         "FROM InfosHyperviseurs h JOIN InfosVMs v ON v.idinfos = h.id ORDER BY h.id LIMIT 1"),
                          base);
        QVERIFY(requete.next());
        QCOMPARE(requete.value(0).toDouble(), 62.5);
        QCOMPARE(requete.value(1).toDouble(), 64.5);
        QCOMPARE(requete.value(2).toDouble(), 27.8);
        QCOMPARE(requete.value(3).toString(), QStringLiteral("6695eb01-f6a4-8304-79aa-97f2502e193f"));
        QCOMPARE(requete.value(4).toInt(), 1);
        QCOMPARE(requete.value(5).toLongLong(), Q_INT64_C(2097152));
        QCOMPARE(requete.value(6).toLongLong(), Q_INT64_C(8388608));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("valeurs"));
}

QTEST_GUILESS_MAIN(TestSondeCollecteur)
#include "tst_sonde_collecteur.moc"
