// SPDX-License-Identifier: MIT
#include "ClesRapport.h"
#include "DatagrammeRapport.h"
#include "LecteurHistorique.h"
#include "Programme.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

// The history read from backup files that the real collector wrote.
class TestHistorique : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lire_data();
    void lire();
    void fichiersChoisis();
    void plusieursFichiers();
    void illisibleEtAbsent();

private:
    QTemporaryDir m_dossier;
    qint64 m_debut = 0;
    QByteArray m_empreinte;
};

namespace {

QByteArray empreinte(const QString &dossier)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QFileInfo &f : QDir(dossier).entryInfoList(QDir::Files, QDir::Name)) {
        hash.addData(f.fileName().toUtf8());
        QFile fichier(f.filePath());
        fichier.open(QIODevice::ReadOnly);
        hash.addData(fichier.readAll());
    }
    return hash.result();
}

// The first measure whose series is not one value per point, each the
// report's constant or absent (cpu apart, which varies); empty when none.
QString seriesFausses(const QJsonObject &series, const QVector<ClesRapport::Cle> &cles, const QHash<QString, double> &constantes)
{
    const int points = series.value(QStringLiteral("t")).toArray().size();
    for (const ClesRapport::Cle &cle : cles) {
        const QJsonArray serie = series.value(cle.nom).toArray();
        if (serie.size() != points)
            return QStringLiteral("%1 : %2 valeurs pour %3 points").arg(cle.nom).arg(serie.size()).arg(points);
        for (const QJsonValue &v : serie) {
            if (cle.nom == QLatin1String("cpu") || v.isNull())
                continue;
            if (!constantes.contains(cle.nom) || v.toDouble() != constantes.value(cle.nom))
                return QStringLiteral("%1 : %2 inattendu").arg(cle.nom).arg(v.toDouble());
        }
    }
    return QString();
}

} // namespace

void TestHistorique::initTestCase()
{
    QVERIFY(m_dossier.isValid());
    const quint16 port = portUdpLibre();
    Programme collecteur(QStringLiteral(COLLECTEUR_BINAIRE), {QStringLiteral("--port=%1").arg(port)}, m_dossier.path());
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("\"Ecoute sur le port %1\" ").arg(port)),
             qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));

    // Ten reports of hv-h 10 s apart, cpu 0 to 9 and its VM at twice that,
    // one of another host, and one whose cpu is a text.
    m_debut = QDateTime::currentSecsSinceEpoch() - 200;
    QUdpSocket agent;
    quint32 sequence = 1;
    const auto envoyer = [&](const QString &texte) {
        agent.writeDatagram(DatagrammeRapport::ecrire(sequence++, texte.toUtf8()), QHostAddress::LocalHost, port);
    };
    for (int i = 0; i < 10; ++i) {
        envoyer(QStringLiteral("{\"name\":\"hv-h\",\"time\":%1,\"cpu\":%2,\"ram\":50,\"vms\":[{\"name\":\"vm-a\",\"uuid\":\"ua\","
                               "\"state\":1,\"cpu\":%3,\"ram\":1024,\"maxram\":2048}]}")
                    .arg(m_debut + i * 10)
                    .arg(i)
                    .arg(2 * i));
        QTest::qWait(2);
    }
    envoyer(QStringLiteral("{\"name\":\"autre\",\"time\":%1,\"cpu\":99}").arg(m_debut));
    envoyer(QStringLiteral("{\"name\":\"hv-h\",\"time\":%1,\"cpu\":\"beaucoup\"}").arg(m_debut + 45));
    QTest::qWait(500);
    QVERIFY(collecteur.arreter());
    QCOMPARE(QDir(m_dossier.path()).entryList({QStringLiteral("collecteur*.db")}).size(), 1);
    m_empreinte = empreinte(m_dossier.path());
}

void TestHistorique::lire_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<QVector<double>>("cpu");
    QTest::addColumn<QVector<double>>("cpuVM");

    // The text cpu is neither a point value nor a 0 in an average.
    QTest::newRow("tout") << 1500 << QVector<double>{0, 1, 2, 3, 4, -1, 5, 6, 7, 8, 9}
                          << QVector<double>{0, 2, 4, 6, 8, 10, 12, 14, 16, 18};
    QTest::newRow("eclairci") << 2 << QVector<double>{2, 7} << QVector<double>{4, 14};
}

void TestHistorique::lire()
{
    QFETCH(int, points);
    QFETCH(QVector<double>, cpu);
    QFETCH(QVector<double>, cpuVM);

    const QJsonObject h = QJsonDocument::fromJson(LecteurHistorique::lire(m_dossier.path(), QStringLiteral("hv-h"),
                                                                          m_debut, m_debut + 99, points))
                              .object();
    QCOMPARE(h.value(QStringLiteral("fichiers")).toInt(), 1);
    QCOMPARE(h.value(QStringLiteral("illisibles")).toInt(), 0);
    QVector<double> lu;
    for (const QJsonValue &v : h.value(QStringLiteral("hyperviseur")).toObject().value(QStringLiteral("cpu")).toArray())
        lu.append(v.isNull() ? -1 : v.toDouble());
    QCOMPARE(lu, cpu);
    const QJsonArray vms = h.value(QStringLiteral("vms")).toArray();
    QCOMPARE(vms.size(), 1);
    QCOMPARE(vms.first().toObject().value(QStringLiteral("nom")).toString(), QStringLiteral("vm-a"));
    lu.clear();
    for (const QJsonValue &v : vms.first().toObject().value(QStringLiteral("cpu")).toArray())
        lu.append(v.toDouble());
    QCOMPARE(lu, cpuVM);

    // Every measure has its series, each column read under its own name.
    QString erreur = seriesFausses(h.value(QStringLiteral("hyperviseur")).toObject(), ClesRapport::mesuresHyperviseur(),
                                   {{QStringLiteral("ram"), 50}});
    QVERIFY2(erreur.isEmpty(), qPrintable(erreur));
    erreur = seriesFausses(vms.first().toObject(), ClesRapport::mesuresVM(),
                           {{QStringLiteral("state"), 1}, {QStringLiteral("ram"), 1024}, {QStringLiteral("maxram"), 2048}});
    QVERIFY2(erreur.isEmpty(), qPrintable(erreur));
    // Read, never written: no journal, no new file, same bytes.
    QCOMPARE(empreinte(m_dossier.path()), m_empreinte);
}

void TestHistorique::fichiersChoisis()
{
    const QString fichier = QDir(m_dossier.path()).entryList({QStringLiteral("collecteur*.db")}).constFirst();
    const qint64 horodatage =
        QDateTime::fromString(fichier.mid(10, 19), QStringLiteral("dd-MM-yyyy_hh-mm-ss")).toSecsSinceEpoch();
    // The file holds the hour before its name's time: found for a range
    // ending up to an hour (and the margin) before it, not for one after it.
    QCOMPARE(LecteurHistorique::fichiers(m_dossier.path(), horodatage - 1800, horodatage - 1700).size(), 1);
    QCOMPARE(LecteurHistorique::fichiers(m_dossier.path(), horodatage - 7 * 3600, horodatage - 5 * 3600).size(), 0);
    QCOMPARE(LecteurHistorique::fichiers(m_dossier.path(), horodatage + 3600, horodatage + 7200).size(), 0);
}

void TestHistorique::plusieursFichiers()
{
    // The collector's file and a copy an hour later, its rows 50 s later,
    // cpu + 100 and its VM renamed: bins that take rows from both files
    // average them all, whichever thread read which file.
    QTemporaryDir dossier;
    const QString source = QDir(m_dossier.path()).entryList({QStringLiteral("collecteur*.db")}).constFirst();
    const QDateTime instant = QDateTime::fromString(source.mid(10, 19), QStringLiteral("dd-MM-yyyy_hh-mm-ss"));
    const QString copie = QStringLiteral("collecteur%1.db").arg(instant.addSecs(3600).toString(QStringLiteral("dd-MM-yyyy_hh-mm-ss")));
    QVERIFY(QFile::copy(QDir(m_dossier.path()).filePath(source), dossier.filePath(source)));
    QVERIFY(QFile::copy(QDir(m_dossier.path()).filePath(source), dossier.filePath(copie)));
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copie"));
        base.setDatabaseName(dossier.filePath(copie));
        QVERIFY(base.open());
        QSqlQuery requete(base);
        for (const QString &texte : {QStringLiteral("UPDATE InfosHyperviseurs SET time = time + 50"),
                                     QStringLiteral("UPDATE InfosHyperviseurs SET cpu = cpu + 100 WHERE typeof(cpu) = 'real'"),
                                     QStringLiteral("UPDATE InfosVMs SET name = 'vm-b'")})
            QVERIFY2(requete.exec(texte), qPrintable(requete.lastError().text()));
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copie"));

    // Two bins of 75 s: rows 0 to 70 s of the first file, 50 to 70 s of the copy; then the rest.
    const QJsonObject h = QJsonDocument::fromJson(LecteurHistorique::lire(dossier.path(), QStringLiteral("hv-h"), m_debut,
                                                                          m_debut + 149, 2))
                              .object();
    QCOMPARE(h.value(QStringLiteral("fichiers")).toInt(), 2);
    QCOMPARE(h.value(QStringLiteral("illisibles")).toInt(), 0);
    const QJsonArray cpu = h.value(QStringLiteral("hyperviseur")).toObject().value(QStringLiteral("cpu")).toArray();
    QCOMPARE(cpu.size(), 2);
    QCOMPARE(cpu.at(0).toDouble(), (0 + 1 + 2 + 3 + 4 + 5 + 6 + 7 + 100 + 101 + 102) / 11.0);
    QCOMPARE(cpu.at(1).toDouble(), (8 + 9 + 103 + 104 + 105 + 106 + 107 + 108 + 109) / 9.0);
    const QJsonArray vms = h.value(QStringLiteral("vms")).toArray();
    QCOMPARE(vms.size(), 2);
    QCOMPARE(vms.at(0).toObject().value(QStringLiteral("nom")).toString(), QStringLiteral("vm-a"));
    QCOMPARE(vms.at(0).toObject().value(QStringLiteral("cpu")).toArray(), (QJsonArray{7.0, 17.0}));
    QCOMPARE(vms.at(1).toObject().value(QStringLiteral("nom")).toString(), QStringLiteral("vm-b"));
    QCOMPARE(vms.at(1).toObject().value(QStringLiteral("uuid")).toString(), QStringLiteral("ua"));
    QCOMPARE(vms.at(1).toObject().value(QStringLiteral("cpu")).toArray(), (QJsonArray{2.0, 12.0}));
}

void TestHistorique::illisibleEtAbsent()
{
    QTemporaryDir dossier;
    const QString nom = QStringLiteral("collecteur") + QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy_hh-mm-ss"))
                        + QStringLiteral(".db");
    QFile faux(dossier.filePath(nom));
    QVERIFY(faux.open(QIODevice::WriteOnly));
    faux.write("pas une base SQLite");
    faux.close();
    const qint64 maintenant = QDateTime::currentSecsSinceEpoch();
    const QJsonObject h =
        QJsonDocument::fromJson(LecteurHistorique::lire(dossier.path(), QStringLiteral("x"), maintenant - 60, maintenant)).object();
    QCOMPARE(h.value(QStringLiteral("fichiers")).toInt(), 1);
    QCOMPARE(h.value(QStringLiteral("illisibles")).toInt(), 1);
    QCOMPARE(QDir(dossier.path()).entryList(QDir::Files), QStringList{nom});

    const QString absent = dossier.filePath(QStringLiteral("absent"));
    QCOMPARE(QJsonDocument::fromJson(LecteurHistorique::lire(absent, QStringLiteral("x"), 0, 100)).object().value(
                 QStringLiteral("fichiers")),
             QJsonValue(0));
    QVERIFY(!QFileInfo::exists(absent));
}

QTEST_GUILESS_MAIN(TestHistorique)
#include "tst_historique.moc"
