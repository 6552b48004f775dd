// SPDX-License-Identifier: MIT
#include "ArchivageSauvegarde.h"
#include "FichierArchive.h"
#include "FichierSauvegarde.h"
#include "LecteurArchive.h"
#include "LectureRrd.h"
#include "PassageArchivage.h"
#include "SauvegardeEssai.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A day's start, so that 5-min and 1-h rows start with the data.
constexpr qint64 origine = 1700006400;
constexpr int rapports = 720; // two hours, every 10 s

double valeur(int rapport, int source, int serie)
{
    // cputemp (source 4 of a host) is missing from every seventh report.
    if (serie < 10 && source == 4 && rapport % 7 == 0)
        return NAN;
    return std::fmod(rapport * 37.0 + source * 11.0 + serie * 5.0, 101.0) + 0.25;
}

QString nomVM(int hote, int vm)
{
    return QStringLiteral("web-%1-%2").arg(hote).arg(vm);
}

// Hosts are series 0 and 1, their VMs 10 + 2 * host + vm.
void ecrireFleet(SauvegardeEssai &fichier, int premier, int dernier)
{
    for (int r = premier; r <= dernier; ++r) {
        for (int h = 0; h < 2; ++h) {
            QVector<double> hote;
            for (int s = 0; s < 6; ++s)
                hote.append(valeur(r, s, h));
            const qint64 id = fichier.hyperviseur(QStringLiteral("hv-%1").arg(h), origine + 10 * r, hote);
            for (int v = 0; v < 2; ++v) {
                QVector<double> vm;
                for (int s = 0; s < 4; ++s)
                    vm.append(valeur(r, s, 10 + 2 * h + v));
                fichier.vm(id, nomVM(h, v), vm);
            }
        }
    }
}

bool proches(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-9 * qMax(1.0, std::fabs(b));
}

} // namespace

class TestArchivageSauvegarde : public QObject
{
    Q_OBJECT

private slots:
    void moyennesEtMaximums_data();
    void moyennesEtMaximums();
    void rapportsScindesEtPointsAnciens();
    void redemarrageSansDoublon();
    void illisibles_data();
    void illisibles();
    void nomsVenusDuReseau();

private:
    QTemporaryDir m_dossier;
};

void TestArchivageSauvegarde::moyennesEtMaximums_data()
{
    QTest::addColumn<qint64>("resolution");
    QTest::newRow("5 min") << qint64(300);
    QTest::newRow("1 h") << qint64(3600);
}

void TestArchivageSauvegarde::moyennesEtMaximums()
{
    QFETCH(qint64, resolution);
    const QString archive = m_dossier.filePath(QStringLiteral("moyennes-%1").arg(resolution));
    const QString chemin = m_dossier.filePath(QStringLiteral("moyennes-%1.db").arg(resolution));
    {
        SauvegardeEssai fichier(chemin);
        ecrireFleet(fichier, 1, rapports);
        QVERIFY(fichier.fermer());
    }
    ArchivageSauvegarde archivage(archive);
    const ArchivageSauvegarde::Bilan bilan = archivage.archiver(chemin);
    QVERIFY2(bilan.complet(), qPrintable(bilan.erreur));
    QCOMPARE(bilan.hyperviseurs, qint64(2));
    QCOMPARE(bilan.vms, qint64(4));
    QCOMPARE(bilan.mesures, qint64(6 * rapports));
    QCOMPARE(bilan.ignorees, qint64(0));

    for (int h = 0; h < 2; ++h) {
        const LecteurArchive::Historique historique =
            LecteurArchive::lire(archive, QStringLiteral("hv-%1").arg(h), origine, origine + 10 * rapports, resolution);
        QVERIFY(historique.trouve);
        QVERIFY2(historique.erreurs.isEmpty(), qPrintable(historique.erreurs.join(QLatin1Char('\n'))));
        QCOMPARE(int(historique.vms.size()), 2);
        QVector<LecteurArchive::Serie> series{historique.hyperviseur};
        series += historique.vms;
        for (int i = 0; i < series.size(); ++i) {
            const LecteurArchive::Serie &serie = series.at(i);
            const int numero = i == 0 ? h : 10 + 2 * h + (i - 1);
            QCOMPARE(serie.pas, resolution);
            QCOMPARE(serie.sources, i == 0 ? FichierArchive::sourcesHyperviseur() : FichierArchive::sourcesVM());
            QVERIFY(serie.temps.size() >= int(10 * rapports / resolution));
            int lignesPleines = 0;
            for (int ligne = 0; ligne < serie.temps.size(); ++ligne) {
                const qint64 fin = serie.temps.at(ligne);
                for (int s = 0; s < serie.sources.size(); ++s) {
                    double somme = 0;
                    double maximum = NAN;
                    int connus = 0;
                    for (int r = 1; r <= rapports; ++r) {
                        const qint64 t = origine + 10 * r;
                        const double v = valeur(r, s, numero);
                        if (t > fin - resolution && t <= fin && !std::isnan(v)) {
                            somme += v;
                            ++connus;
                            maximum = std::isnan(maximum) ? v : qMax(maximum, v);
                        }
                    }
                    const double moyenne = connus > 0 ? somme / connus : NAN;
                    QVERIFY2(proches(serie.moyennes.at(s).at(ligne), moyenne),
                             qPrintable(QStringLiteral("%1 %2 à %3 : moyenne %4 au lieu de %5")
                                            .arg(serie.nom, serie.sources.at(s)).arg(fin)
                                            .arg(serie.moyennes.at(s).at(ligne)).arg(moyenne)));
                    QVERIFY2(proches(serie.maximums.at(s).at(ligne), maximum),
                             qPrintable(QStringLiteral("%1 %2 à %3 : maximum %4 au lieu de %5")
                                            .arg(serie.nom, serie.sources.at(s)).arg(fin)
                                            .arg(serie.maximums.at(s).at(ligne)).arg(maximum)));
                    lignesPleines += connus > 0 && s == 0 ? 1 : 0;
                }
            }
            QCOMPARE(lignesPleines, int(10 * rapports / resolution));
        }
    }
}

void TestArchivageSauvegarde::rapportsScindesEtPointsAnciens()
{
    const QString archive = m_dossier.filePath(QStringLiteral("scindes"));
    const QString recent = m_dossier.filePath(QStringLiteral("scindes-recent.db"));
    const QString ancien = m_dossier.filePath(QStringLiteral("scindes-ancien.db"));
    {
        // One sample in two datagrams: two host rows, each with half of the VMs.
        SauvegardeEssai fichier(recent);
        for (int r = 100; r < 110; ++r) {
            const QVector<double> hote{50, 60, 70, 80, NAN, 30};
            fichier.vm(fichier.hyperviseur(QStringLiteral("hv"), origine + 10 * r, hote), QStringLiteral("a"), {1, 2, 3, 4});
            fichier.vm(fichier.hyperviseur(QStringLiteral("hv"), origine + 10 * r, hote), QStringLiteral("b"), {5, 6, 7, 8});
        }
        QVERIFY(fichier.fermer());
        SauvegardeEssai autre(ancien);
        for (int r = 95; r < 105; ++r)
            autre.vm(autre.hyperviseur(QStringLiteral("hv"), origine + 10 * r, {1, 1, 1, 1, 1, 1}), QStringLiteral("a"), {1, 1, 1, 1});
        QVERIFY(autre.fermer());
    }
    ArchivageSauvegarde archivage(archive);
    ArchivageSauvegarde::Bilan bilan = archivage.archiver(recent);
    QVERIFY2(bilan.complet(), qPrintable(bilan.erreur));
    QCOMPARE(bilan.vms, qint64(2));
    QCOMPARE(bilan.mesures, qint64(30));
    QCOMPARE(LectureRrd::derniereMiseAJour(FichierArchive::cheminHyperviseur(archive, QStringLiteral("hv"))),
             origine + 1090);

    // Its rows up to the archive's last update are refused by RRDtool: counted.
    bilan = ArchivageSauvegarde(archive).archiver(ancien);
    QVERIFY2(bilan.complet(), qPrintable(bilan.erreur));
    QCOMPARE(bilan.mesures, qint64(0));
    QCOMPARE(bilan.ignorees, qint64(20));
}

void TestArchivageSauvegarde::redemarrageSansDoublon()
{
    QTemporaryDir dossier;
    const QString archive = dossier.filePath(QStringLiteral("archive"));
    const QString nom = FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(origine + 10 * rapports));
    {
        SauvegardeEssai fichier(dossier.filePath(nom));
        ecrireFleet(fichier, 1, rapports);
        QVERIFY(fichier.fermer());
    }
    QStringList lignes;
    const auto passage = [&]() {
        PassageArchivage essai(dossier.path(), archive, {}, [](const QString &) { return NettoyageSauvegardes::Espace{}; },
                               nullptr, [&](const QString &ligne) { lignes.append(ligne); });
        return essai.preparer() && essai.executer(origine + 10 * rapports);
    };
    QVERIFY(passage());
    QCOMPARE(lignes, QStringList{QStringLiteral("Sauvegarde archivée : %1 (2 hyperviseurs, 4 VM, 4320 mesures).").arg(nom)});
    QFile etat(archive + QStringLiteral("/sauvegardes-archivees"));
    QVERIFY(etat.open(QIODevice::ReadOnly));
    QCOMPARE(etat.readAll(), nom.toUtf8() + '\n');
    const QFileInfo hote(FichierArchive::cheminHyperviseur(archive, QStringLiteral("hv-0")));
    const QDateTime modifie = hote.lastModified();

    // A new process: it reads the list and leaves the file alone.
    lignes.clear();
    QVERIFY(passage());
    QCOMPARE(lignes, QStringList());
    QCOMPARE(QFileInfo(hote.filePath()).lastModified(), modifie);
}

void TestArchivageSauvegarde::illisibles_data()
{
    QTest::addColumn<QByteArray>("contenu");
    QTest::addColumn<QByteArray>("sql");
    QTest::newRow("texte") << QByteArray("ceci n'est pas une base SQLite\n").repeated(200) << QByteArray();
    QTest::newRow("autre schéma") << QByteArray() << QByteArray("CREATE TABLE Autre (x INTEGER)");
    QTest::newRow("tronquée") << QByteArray("tronquer") << QByteArray();
}

void TestArchivageSauvegarde::illisibles()
{
    QFETCH(QByteArray, contenu);
    QFETCH(QByteArray, sql);
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(QStringLiteral("illisible.db"));
    if (!sql.isEmpty()) {
        sqlite3 *base = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(chemin).constData(), &base), SQLITE_OK);
        QCOMPARE(sqlite3_exec(base, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(base);
    } else if (contenu == "tronquer") {
        {
            SauvegardeEssai fichier(chemin);
            ecrireFleet(fichier, 1, rapports);
            QVERIFY(fichier.fermer());
        }
        QFile fichier(chemin);
        QVERIFY(fichier.resize(fichier.size() / 2));
    } else {
        QFile fichier(chemin);
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        fichier.write(contenu);
    }
    LectureSauvegarde lecture;
    QCOMPARE(lecture.lire(chemin, [](const QString &, const QString &, MesuresSerie &) { return true; }),
             LectureSauvegarde::Illisible);
    QVERIFY(!lecture.erreur().isEmpty());
}

void TestArchivageSauvegarde::nomsVenusDuReseau()
{
    const QString archive = m_dossier.filePath(QStringLiteral("noms"));
    const QString chemin = m_dossier.filePath(QStringLiteral("noms.db"));
    const QString hote = QStringLiteral("../../etc/passwd");
    const QStringList vms{QStringLiteral("a/b"), QStringLiteral(".."), QStringLiteral("machine \u00e9t\u00e9 \U0001F600"),
                          QString(300, QChar(0x4E2D))};
    {
        SauvegardeEssai fichier(chemin);
        for (int r = 1; r <= 3; ++r) {
            const qint64 id = fichier.hyperviseur(hote, origine + 10 * r, {1, 2, 3, 4, 5, 6});
            for (const QString &vm : vms)
                fichier.vm(id, vm, {1, 2, 3, 4});
        }
        QVERIFY(fichier.fermer());
    }
    const ArchivageSauvegarde::Bilan bilan = ArchivageSauvegarde(archive).archiver(chemin);
    QVERIFY2(bilan.complet(), qPrintable(bilan.erreur));
    QCOMPARE(bilan.vms, qint64(4));

    // Every file is under the archive's folder of hosts, one level down.
    const QDir hotes(FichierArchive::dossierHyperviseurs(archive));
    QCOMPARE(int(hotes.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()), 1);
    QCOMPARE(QDir(archive).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("hyperviseurs")}));
    QStringList attendus = vms;
    std::sort(attendus.begin(), attendus.end());
    QCOMPARE(LecteurArchive::vms(archive, hote), attendus);
    const LecteurArchive::Historique historique = LecteurArchive::lire(archive, hote, origine, origine + 30, 300);
    QVERIFY2(historique.erreurs.isEmpty(), qPrintable(historique.erreurs.join(QLatin1Char('\n'))));
    QCOMPARE(int(historique.vms.size()), 4);
}

QTEST_GUILESS_MAIN(TestArchivageSauvegarde)
#include "tst_archivagesauvegarde.moc"
