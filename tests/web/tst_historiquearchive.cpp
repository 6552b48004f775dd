// SPDX-License-Identifier: MIT
#include "FichierArchive.h"
#include "FichierSauvegarde.h"
#include "HistoriqueEssai.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace HistoriqueEssai;

// The history over an archive that the real collecteur-archive made from
// backup files over 400 simulated days, the raw files it left for the last
// two, two more it has not rolled yet and the hour in progress in the
// journal: every point must be the average of the rows written over the
// seconds it stands for, with no span missing and none twice.
class TestHistoriqueArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plages_data();
    void plages();
    void uneVM();
    void sansArchive();
    void lectureSeule();

private:
    QJsonObject lire(qint64 depuis, const QString &vm = QString(), bool avecArchive = true) const;
    QString verifier(const QJsonObject &historique, qint64 depuis) const;

    QTemporaryDir m_dossier;
    qint64 m_maintenant = 0;
    qint64 m_finFichiers = 0; // the last row of the raw files
    qint64 m_finJournal = 0;  // the last report of the journal
    QByteArray m_empreinte;
};

namespace {

const QString nomHote = QStringLiteral("hv-long");
const QStringList nomsVMs{QStringLiteral("vm-1"), QStringLiteral("vm-2")};
constexpr qint64 heure = 3600;
constexpr qint64 jour = 86400;

QString nomA(qint64 instant)
{
    return FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(instant));
}

qint64 plafond(qint64 t, qint64 pas)
{
    return (t + pas - 1) / pas * pas;
}

// The source a point at `t` comes from: its grid, where its part begins and
// ends, and for the archive the rows a point averages, each row the average
// of its own seconds.
struct Part
{
    qint64 origine;
    qint64 pas;
    qint64 debut;
    qint64 fin;
    qint64 palier;

    double moyenne(const std::function<double(qint64)> &mesure, qint64 de, qint64 a) const
    {
        if (palier == 0)
            return HistoriqueEssai::moyenne(mesure, de, a);
        double somme = 0;
        int n = 0;
        for (qint64 ligne = de; ligne < a; ligne += palier) {
            const double v = HistoriqueEssai::moyenne(mesure, ligne, ligne + palier);
            if (std::isfinite(v)) {
                somme += v;
                ++n;
            }
        }
        return n > 0 ? somme / n : qQNaN();
    }
    // Whether (g - pas, g] holds a report.
    bool rempli(qint64 g) const
    {
        const qint64 de = qMax(g - pas, debut);
        return (de / minute + 1) * minute <= qMin(g, fin);
    }
};

} // namespace

void TestHistoriqueArchive::initTestCase()
{
    // Names are in local time: on UTC, no hour is missing or twice there.
    qputenv("TZ", "UTC");
    tzset();
    QVERIFY(m_dossier.isValid());
    m_maintenant = QDateTime::currentSecsSinceEpoch();
    m_finFichiers = m_maintenant / minute * minute - 40 * minute;
    m_finJournal = m_maintenant / minute * minute - minute;
    const QString dossier = m_dossier.path();
    QElapsedTimer duree;
    duree.start();

    // 400 days in daily files, then hourly ones for the last two days.
    const qint64 finJours = m_finFichiers - 48 * heure;
    for (int j = 0; j < 400; ++j) {
        const qint64 fin = finJours - j * jour;
        QVERIFY(ecrireSauvegarde(QDir(dossier).filePath(nomA(fin)), nomHote, nomsVMs, fin - jour, fin));
    }
    for (int k = 2; k < 48; ++k) {
        const qint64 fin = m_finFichiers - k * heure;
        QVERIFY(ecrireSauvegarde(QDir(dossier).filePath(nomA(fin)), nomHote, nomsVMs, fin - heure, fin));
    }
    QProcess archive;
    archive.start(QStringLiteral(ARCHIVE_BINAIRE), {QStringLiteral("--une-fois"), QStringLiteral("--sauvegardes=") + dossier,
                                                    QStringLiteral("--brut=2j"), QStringLiteral("--espace-libre=0")});
    QVERIFY(archive.waitForFinished(240000));
    QVERIFY2(archive.exitCode() == 0, archive.readAllStandardError().constData());
    // Rolled, then deleted but for the last two days.
    QCOMPARE(QDir(dossier).entryList({FichierSauvegarde::filtreNoms()}, QDir::Files).size(), 46);

    // Two hours not archived yet, then the journal: a segment of a backup
    // being written, and the segment being written.
    for (int k = 0; k < 2; ++k) {
        const qint64 fin = m_finFichiers - k * heure;
        QVERIFY(ecrireSauvegarde(QDir(dossier).filePath(nomA(fin)), nomHote, nomsVMs, fin - heure, fin));
    }
    const qint64 coupure = m_finFichiers + 20 * minute;
    QVERIFY(ecrireSegment(QDir(dossier).filePath(FichierSauvegarde::nomSegmentAssigne(nomA(coupure), 1)), nomHote, nomsVMs,
                          m_finFichiers, coupure));
    QVERIFY(ecrireSegment(QDir(dossier).filePath(FichierSauvegarde::nomSegmentJournal(2)), nomHote, nomsVMs, coupure, m_finJournal));
    m_empreinte = empreinte(dossier);
    qInfo("Banc d'essai écrit et archivé en %lld ms", duree.elapsed());
}

QJsonObject TestHistoriqueArchive::lire(qint64 depuis, const QString &vm, bool avecArchive) const
{
    DemandeHistorique demande;
    demande.sauvegardes = m_dossier.path();
    demande.archive = avecArchive ? FichierArchive::dossierParDefaut(m_dossier.path()) : QString();
    demande.hyperviseur = nomHote;
    demande.vm = vm;
    demande.depuis = depuis;
    demande.jusqua = m_maintenant;
    return HistoriqueEssai::lire(demande);
}

// Empty when every point of every series is right and they are all there.
QString TestHistoriqueArchive::verifier(const QJsonObject &historique, qint64 depuis) const
{
    const qint64 pas = qint64(historique.value(QStringLiteral("pas")).toDouble());
    const bool longue = m_maintenant - depuis > Historique::dureeDetaillee;
    QVector<Part> parts;
    qint64 borne = depuis - 1;
    for (const QJsonValue &source : historique.value(QStringLiteral("sources")).toArray()) {
        if (source[QStringLiteral("type")] == QLatin1String("archive")) {
            borne = qint64(source[QStringLiteral("jusqua")].toDouble());
            parts.append({0, qint64(source[QStringLiteral("resolution")].toDouble()), depuis, borne,
                          qint64(source[QStringLiteral("palier")].toDouble())});
        }
    }
    parts.append({longue ? 0 : depuis - 1, pas, qMax(borne, depuis - 1), m_finJournal, 0});

    // Each series, with its measures as functions of the time.
    struct Serie
    {
        QJsonObject points;
        QVector<QLatin1String> cles;
        std::function<QVector<double>(qint64)> valeurs;
    };
    QVector<Serie> series{{historique.value(QStringLiteral("hyperviseur")).toObject(),
                           {}, [](qint64 t) { return HistoriqueEssai::hote(t); }}};
    for (const ClesRapport::Cle &cle : ClesRapport::mesuresHyperviseur())
        series[0].cles.append(cle.nom);
    for (const QJsonValue &vm : historique.value(QStringLiteral("vms")).toArray()) {
        const int numero = int(nomsVMs.indexOf(vm[QStringLiteral("nom")].toString())) + 1;
        Serie serie{vm.toObject(), {}, [numero](qint64 t) { return HistoriqueEssai::vm(numero, t); }};
        for (const ClesRapport::Cle &cle : ClesRapport::mesuresVM())
            serie.cles.append(cle.nom);
        series.append(serie);
    }

    for (const Serie &serie : series) {
        const QJsonArray temps = serie.points.value(QStringLiteral("t")).toArray();
        int attendus = 0;
        for (const Part &part : parts) {
            for (qint64 g = part.origine + ((part.debut - part.origine) / part.pas + 1) * part.pas; g - part.pas < part.fin;
                 g += part.pas)
                attendus += part.rempli(g) ? 1 : 0;
        }
        if (temps.size() != attendus)
            return QStringLiteral("%1 point(s) au lieu de %2").arg(temps.size()).arg(attendus);
        for (int i = 0; i < temps.size(); ++i) {
            const qint64 t = qint64(temps.at(i).toDouble());
            const Part &part = parts.size() > 1 && t <= borne ? parts.first() : parts.last();
            const qint64 g = part.origine + plafond(t - part.origine, part.pas);
            const qint64 debut = qMax(g - part.pas, part.debut);
            const qint64 fin = qMin(g, part.fin);
            for (int m = 0; m < serie.cles.size(); ++m) {
                const QJsonValue lu = serie.points.value(serie.cles.at(m)).toArray().at(i);
                // The archive keeps no VM state.
                const bool gardee = !(&part == &parts.first() && parts.size() > 1 && serie.cles.at(m) == ClesRapport::etat);
                const double attendu =
                    gardee ? part.moyenne([&](qint64 x) { return serie.valeurs(x).at(m); }, debut, fin) : qQNaN();
                const bool juste = std::isfinite(attendu) ? lu.isDouble() && qAbs(lu.toDouble() - attendu) <= 1e-9 * qAbs(attendu)
                                                          : lu.isNull();
                if (!juste)
                    return QStringLiteral("%1 de %2 à %3 (point %4, ]%5, %6]) : %7 au lieu de %8")
                        .arg(serie.cles.at(m), serie.points.value(QStringLiteral("nom")).toString())
                        .arg(t)
                        .arg(i)
                        .arg(debut)
                        .arg(fin)
                        .arg(lu.toDouble(), 0, 'g', 17)
                        .arg(attendu, 0, 'g', 17);
            }
        }
    }
    return QString();
}

void TestHistoriqueArchive::plages_data()
{
    QTest::addColumn<qint64>("duree");
    QTest::addColumn<qint64>("alignement");
    QTest::addColumn<qint64>("pas");
    QTest::addColumn<QStringList>("sources");

    const QStringList toutes{QStringLiteral("archive"), QStringLiteral("fichiers"), QStringLiteral("journal")};
    // Hourly rows of the archive, then the files not archived and the journal on the same grid.
    QTest::newRow("30 jours") << 30 * jour << heure << heure << toutes;
    // Six of its hourly rows to a point.
    QTest::newRow("1 an") << 365 * jour << 6 * heure << 6 * heure << toutes;
    // The raw files at their own resolution where they are, the archive's
    // five-minute rows, two to a point, before them.
    QTest::newRow("7 jours") << 7 * jour << qint64(600) << (7 * jour + 1500) / 1500 << toutes;
    QTest::newRow("24 heures") << jour << qint64(60) << (jour + 1500) / 1500 << QStringList{toutes.mid(1)};
}

void TestHistoriqueArchive::plages()
{
    QFETCH(qint64, duree);
    QFETCH(qint64, alignement);
    QFETCH(qint64, pas);
    QFETCH(QStringList, sources);

    const qint64 depuis = (m_maintenant - duree) / alignement * alignement;
    const QJsonObject historique = lire(depuis);
    QCOMPARE(qint64(historique.value(QStringLiteral("pas")).toDouble()), pas);
    QStringList lues;
    for (const QJsonValue &source : historique.value(QStringLiteral("sources")).toArray())
        lues.append(source[QStringLiteral("type")].toString());
    QCOMPARE(lues, sources);
    QCOMPARE(historique.value(QStringLiteral("erreurs")).toArray(), QJsonArray());
    QCOMPARE(historique.value(QStringLiteral("vms")).toArray().size(), 2);
    QVERIFY(historique.value(QStringLiteral("hyperviseur"))[QStringLiteral("t")].toArray().size() <= Historique::pointsMaximum);
    const QString erreur = verifier(historique, depuis);
    QVERIFY2(erreur.isEmpty(), qPrintable(erreur));
}

void TestHistoriqueArchive::uneVM()
{
    const qint64 depuis = (m_maintenant - 30 * jour) / heure * heure;
    const QJsonObject historique = lire(depuis, QStringLiteral("vm-2"));
    const QJsonArray liste = historique.value(QStringLiteral("vms")).toArray();
    QCOMPARE(liste.size(), 1);
    QCOMPARE(liste.first()[QStringLiteral("nom")].toString(), QStringLiteral("vm-2"));
    QCOMPARE(liste.first()[QStringLiteral("uuid")].toString(), QStringLiteral("00000000-0000-4000-8000-000000000001"));
    const QString erreur = verifier(historique, depuis);
    QVERIFY2(erreur.isEmpty(), qPrintable(erreur));
    QCOMPARE(lire(depuis, QStringLiteral("vm-absente")).value(QStringLiteral("vms")).toArray(), QJsonArray());
}

void TestHistoriqueArchive::sansArchive()
{
    // Without the archive a long range shows what the raw files and the
    // journal hold, no more.
    const qint64 depuis = (m_maintenant - 30 * jour) / heure * heure;
    const QJsonObject historique = lire(depuis, QString(), false);
    QCOMPARE(historique.value(QStringLiteral("sources")).toArray().size(), 2);
    const QJsonArray t = historique.value(QStringLiteral("hyperviseur"))[QStringLiteral("t")].toArray();
    QVERIFY(!t.isEmpty());
    QVERIFY2(t.first().toDouble() > double(m_finFichiers - 48 * heure), qPrintable(QString::number(t.first().toDouble())));
}

void TestHistoriqueArchive::lectureSeule()
{
    // Backups, journal and archive as they were: same names, times and bytes.
    QCOMPARE(empreinte(m_dossier.path()), m_empreinte);
}

QTEST_GUILESS_MAIN(TestHistoriqueArchive)
#include "tst_historiquearchive.moc"
