// SPDX-License-Identifier: MIT
#include "ApplicationWeb.h"
#include "ClesRapport.h"
#include "ClientHttp.h"
#include "DatagrammeRapport.h"
#include "FichierSauvegarde.h"
#include "HistoriqueEssai.h"
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

// The history read from backup files that the real collector wrote, from
// its journal while the hour is in progress, and as CSV.
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
    void heureEnCours();
    void segmentsDuJournal();
    void csv_data();
    void csv();
    void champCsv_data();
    void champCsv();

private:
    QTemporaryDir m_dossier;
    qint64 m_debut = 0;
    QByteArray m_empreinte;
};

namespace {

using HistoriqueEssai::empreinte;

QJsonObject lire(const QString &dossier, const QString &nom, qint64 depuis, qint64 jusqua, int points = 1500)
{
    DemandeHistorique demande;
    demande.sauvegardes = dossier;
    demande.hyperviseur = nom;
    demande.depuis = depuis;
    demande.jusqua = jusqua;
    demande.points = points;
    return HistoriqueEssai::lire(demande);
}

QString iso(qint64 t)
{
    return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(Qt::ISODate);
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

    const QJsonObject h = ::lire(m_dossier.path(), QStringLiteral("hv-h"), m_debut, m_debut + 99, points);
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
    const QJsonObject h = ::lire(dossier.path(), QStringLiteral("hv-h"), m_debut, m_debut + 149, 2);
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
    const QJsonObject h = ::lire(dossier.path(), QStringLiteral("x"), maintenant - 60, maintenant);
    QCOMPARE(h.value(QStringLiteral("fichiers")).toInt(), 1);
    QCOMPARE(h.value(QStringLiteral("illisibles")).toInt(), 1);
    QCOMPARE(QDir(dossier.path()).entryList(QDir::Files), QStringList{nom});

    const QString absent = dossier.filePath(QStringLiteral("absent"));
    QCOMPARE(::lire(absent, QStringLiteral("x"), 0, 100).value(QStringLiteral("fichiers")), QJsonValue(0));
    QVERIFY(!QFileInfo::exists(absent));
}

void TestHistorique::heureEnCours()
{
    // The real collector, not stopped: its reports are in its journal alone,
    // and the history shows them; once it stops, the same points come from
    // its backup file, neither lost nor twice.
    QTemporaryDir dossier;
    const quint16 port = portUdpLibre();
    Programme collecteur(QStringLiteral(COLLECTEUR_BINAIRE), {QStringLiteral("--port=%1").arg(port)}, dossier.path());
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("\"Ecoute sur le port %1\" ").arg(port)),
             qPrintable(collecteur.lignes().join(QLatin1Char('\n'))));
    const QStringList vms{QStringLiteral("vm-1"), QStringLiteral("vm-2")};
    const qint64 debut = QDateTime::currentSecsSinceEpoch() / 60 * 60 - 11 * 60;
    QUdpSocket agent;
    for (int i = 1; i <= 10; ++i)
        agent.writeDatagram(DatagrammeRapport::ecrire(quint32(i), HistoriqueEssai::rapport(QStringLiteral("hv-j"), vms, debut + 60 * i)),
                            QHostAddress::LocalHost, port);

    const qint64 fin = debut + 11 * 60;
    QJsonObject enCours;
    QTRY_COMPARE_WITH_TIMEOUT((enCours = ::lire(dossier.path(), QStringLiteral("hv-j"), debut, fin))
                                  .value(QStringLiteral("hyperviseur")).toObject().value(QStringLiteral("t")).toArray().size(),
                              10, 10000);
    QCOMPARE(enCours.value(QStringLiteral("fichiers")).toInt(), 0);
    QCOMPARE(enCours.value(QStringLiteral("sources")).toArray(),
             (QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("journal")},
                                     {QStringLiteral("resolution"), 60},
                                     {QStringLiteral("lignes"), 10}}}));
    const QJsonObject hote = enCours.value(QStringLiteral("hyperviseur")).toObject();
    for (int i = 0; i < 10; ++i) {
        const qint64 t = debut + 60 * (i + 1);
        QCOMPARE(hote.value(QStringLiteral("t")).toArray().at(i).toDouble(), double(t));
        QCOMPARE(hote.value(QStringLiteral("cpu")).toArray().at(i).toDouble(), HistoriqueEssai::hote(t).at(2));
    }
    QCOMPARE(enCours.value(QStringLiteral("vms")).toArray().size(), 2);

    QVERIFY(collecteur.arreter());
    const QJsonObject sauve = ::lire(dossier.path(), QStringLiteral("hv-j"), debut, fin);
    QCOMPARE(sauve.value(QStringLiteral("fichiers")).toInt(), 1);
    QCOMPARE(sauve.value(QStringLiteral("sources")).toArray().first().toObject().value(QStringLiteral("type")),
             QJsonValue(QStringLiteral("fichiers")));
    QCOMPARE(sauve.value(QStringLiteral("hyperviseur")), enCours.value(QStringLiteral("hyperviseur")));
    QCOMPARE(sauve.value(QStringLiteral("vms")), enCours.value(QStringLiteral("vms")));
}

void TestHistorique::segmentsDuJournal()
{
    // A backup, a segment assigned to it (its rows are in it: ignored), one
    // assigned to a backup still being written (read), the segment being
    // written, its last record torn, and a file that is no segment.
    using namespace HistoriqueEssai;
    QTemporaryDir dossier;
    const QStringList vms{QStringLiteral("vm-1")};
    const qint64 t0 = QDateTime::currentSecsSinceEpoch() / 3600 * 3600 - 4 * 3600;
    const QString ecrite = FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(t0 + 600));
    const QString enCours = FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(t0 + 1200));
    const QString hv = QStringLiteral("hv-s");
    QVERIFY(ecrireSauvegarde(dossier.filePath(ecrite), hv, vms, t0, t0 + 600));
    QVERIFY(ecrireSegment(dossier.filePath(FichierSauvegarde::nomSegmentAssigne(ecrite, 1)), hv, vms, t0 + 3000, t0 + 3600));
    QVERIFY(ecrireSegment(dossier.filePath(FichierSauvegarde::nomSegmentAssigne(enCours, 2)), hv, vms, t0 + 600, t0 + 1200));
    QVERIFY(ecrireSegment(dossier.filePath(FichierSauvegarde::nomSegmentJournal(3)), hv, vms, t0 + 1200, t0 + 1800, true));
    QFile autre(dossier.filePath(FichierSauvegarde::nomSegmentJournal(4)));
    QVERIFY(autre.open(QIODevice::WriteOnly));
    autre.write("pas un segment");
    autre.close();
    const QByteArray avant = empreinte(dossier.path());

    const QJsonObject h = ::lire(dossier.path(), hv, t0, t0 + 3600);
    QCOMPARE(h.value(QStringLiteral("segments")).toInt(), 2);
    QCOMPARE(h.value(QStringLiteral("sources")).toArray(),
             (QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("fichiers")}, {QStringLiteral("resolution"), 60},
                                     {QStringLiteral("lignes"), 10}},
                         QJsonObject{{QStringLiteral("type"), QStringLiteral("journal")}, {QStringLiteral("resolution"), 60},
                                     {QStringLiteral("lignes"), 20}}}));
    const QJsonObject hote = h.value(QStringLiteral("hyperviseur")).toObject();
    const QJsonArray t = hote.value(QStringLiteral("t")).toArray();
    QCOMPARE(t.size(), 30);
    for (int i = 0; i < t.size(); ++i) {
        const qint64 attendu = t0 + 60 * (i + 1);
        QCOMPARE(t.at(i).toDouble(), double(attendu));
        for (int m = 0; m < ClesRapport::mesuresHyperviseur().size(); ++m) {
            const QJsonValue lu = hote.value(ClesRapport::mesuresHyperviseur().at(m).nom).toArray().at(i);
            const double valeur = HistoriqueEssai::hote(attendu).at(m);
            QVERIFY2(std::isfinite(valeur) ? lu.toDouble() == valeur : lu.isNull(),
                     qPrintable(QStringLiteral("%1 à %2").arg(ClesRapport::mesuresHyperviseur().at(m).nom).arg(attendu)));
        }
    }
    const QJsonObject vm = h.value(QStringLiteral("vms")).toArray().first().toObject();
    QCOMPARE(vm.value(QStringLiteral("t")).toArray(), t);
    QCOMPARE(vm.value(QStringLiteral("ram")).toArray().at(29).toDouble(), HistoriqueEssai::vm(1, t0 + 1800).at(2));
    QCOMPARE(empreinte(dossier.path()), avant);
}

void TestHistorique::csv_data()
{
    QTest::addColumn<QByteArray>("vm");
    QTest::addColumn<QStringList>("lignes");
    QTest::addColumn<QByteArray>("fichier");

    const auto temps = [this](int i) { return m_debut + 10 * i; };
    QStringList hote{QStringLiteral("time,cputemp (°C),mbtemp (°C),cpu (%),ram (%),disk (%),network (Mbit/s)")};
    QStringList vm{QStringLiteral("time,cpu (%),ram (KiB),maxram (KiB),network (Mbit/s)")};
    for (int i = 0; i < 10; ++i) {
        // The report whose cpu is a text: a row of its own, every field empty.
        if (i == 5)
            hote << iso(m_debut + 45) + QStringLiteral(",,,,,,");
        hote << QStringLiteral("%1,,,%2,50,,").arg(iso(temps(i))).arg(i);
        vm << QStringLiteral("%1,%2,1024,2048,").arg(iso(temps(i))).arg(2 * i);
    }
    const QString plage = QDateTime::fromSecsSinceEpoch(m_debut, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'_"))
                          + QDateTime::fromSecsSinceEpoch(m_debut + 99, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QTest::newRow("hyperviseur") << QByteArray() << hote << QStringLiteral("historique_hv-h_%1.csv").arg(plage).toLatin1();
    QTest::newRow("vm") << QByteArray("vm-a") << vm << QStringLiteral("historique_hv-h_vm-a_%1.csv").arg(plage).toLatin1();
}

void TestHistorique::csv()
{
    QFETCH(QByteArray, vm);
    QFETCH(QStringList, lignes);
    QFETCH(QByteArray, fichier);

    ParametresWeb parametres;
    parametres.portCollecteur = 1;
    parametres.portEcoute = 0;
    parametres.sauvegardes = m_dossier.path();
    ApplicationWeb web(parametres);
    QVERIFY(web.demarrer());
    const QByteArray requete = "/api/historique?hyperviseur=hv-h&depuis=" + QByteArray::number(m_debut) + "&jusqua="
                               + QByteArray::number(m_debut + 99) + (vm.isEmpty() ? QByteArray() : "&vm=" + vm);
    const ReponseBrute reponse = obtenir(web.serveur().port(), requete + "&format=csv");
    QCOMPARE(reponse.statut, 200);
    QCOMPARE(reponse.entete("Content-Type"), QByteArray("text/csv; charset=utf-8"));
    QCOMPARE(reponse.entete("Content-Disposition"), "attachment; filename=\"" + fichier + '"');
    QCOMPARE(QString::fromUtf8(reponse.corps), lignes.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    // The same points as the page's JSON.
    const QJsonObject json = QJsonDocument::fromJson(obtenir(web.serveur().port(), requete).corps).object();
    const QJsonObject serie = vm.isEmpty() ? json.value(QStringLiteral("hyperviseur")).toObject()
                                           : json.value(QStringLiteral("vms")).toArray().first().toObject();
    QCOMPARE(serie.value(QStringLiteral("t")).toArray().size(), lignes.size() - 1);
    QCOMPARE(obtenir(web.serveur().port(), requete + "&format=xml").statut, 400);
    web.arreter();
}

void TestHistorique::champCsv_data()
{
    QTest::addColumn<QString>("texte");
    QTest::addColumn<QByteArray>("champ");

    QTest::newRow("simple") << QStringLiteral("cpu (%)") << QByteArray("cpu (%)");
    QTest::newRow("virgule") << QStringLiteral("a,b") << QByteArray("\"a,b\"");
    QTest::newRow("guillemets") << QStringLiteral("dit \"x\"") << QByteArray("\"dit \"\"x\"\"\"");
    QTest::newRow("lignes") << QStringLiteral("a\r\nb") << QByteArray("\"a\r\nb\"");
    QTest::newRow("formule") << QStringLiteral("=1+1") << QByteArray("=1+1");
    QTest::newRow("accents") << QStringLiteral("°C é") << QByteArray("\xc2\xb0" "C \xc3\xa9");
}

void TestHistorique::champCsv()
{
    QFETCH(QString, texte);
    QFETCH(QByteArray, champ);
    QCOMPARE(ExportHistorique::champCsv(texte), champ);
}

QTEST_GUILESS_MAIN(TestHistorique)
#include "tst_historique.moc"
