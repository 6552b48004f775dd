// SPDX-License-Identifier: MIT
#include "FichierArchive.h"
#include "FichierSauvegarde.h"
#include "SauvegardeEssai.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <ctime>

namespace {

constexpr qint64 heure = 3600;

// A small backup named after `instant`: one host and one VM reporting every
// minute over the hour before, and `remplissage` bytes more in a table of
// its own, which the archive does not read.
qint64 ecrireSauvegarde(const QString &chemin, qint64 instant, int remplissage = 0)
{
    SauvegardeEssai fichier(chemin);
    for (qint64 t = instant - heure + 60; t <= instant; t += 60) {
        const double x = double(t % 7);
        fichier.vm(fichier.hyperviseur(QStringLiteral("hv-essai"), t, {x, x, x, x, x, x}), QStringLiteral("vm-essai"),
                   {x, x, x, x});
    }
    if (remplissage > 0) {
        fichier.executer("CREATE TABLE Remplissage (octets BLOB)");
        fichier.executer("INSERT INTO Remplissage VALUES (zeroblob(" + QByteArray::number(remplissage) + "))");
    }
    return fichier.fermer() ? QFileInfo(chemin).size() : -1;
}

QString nomA(qint64 instant)
{
    return FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(instant));
}

QStringList lignes(QProcess &processus)
{
    QStringList resultat = QString::fromUtf8(processus.readAllStandardError()).split(QLatin1Char('\n'));
    resultat.removeAll(QString());
    return resultat;
}

} // namespace

class TestCollecteurArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vingtJoursUneFois();
    void jamaisLaPlusRecente();
    void service();
    void plancherSurTmpfs();

private:
    bool executer(const QStringList &arguments, QStringList &console, int &code);
};

void TestCollecteurArchive::initTestCase()
{
    // Names are in local time: on UTC, no hour is missing or twice there.
    qputenv("TZ", "UTC");
    tzset();
}

bool TestCollecteurArchive::executer(const QStringList &arguments, QStringList &console, int &code)
{
    QProcess processus;
    processus.start(QStringLiteral(ARCHIVE_BINAIRE), arguments);
    if (!processus.waitForFinished(240000))
        return false;
    console = lignes(processus);
    code = processus.exitCode();
    return processus.exitStatus() == QProcess::NormalExit;
}

void TestCollecteurArchive::vingtJoursUneFois()
{
    QTemporaryDir dossier;
    const qint64 maintenant = QDateTime::currentSecsSinceEpoch();
    // Half an hour apart from the rule, so that no file is within seconds
    // of eight days old.
    const qint64 recente = maintenant - heure / 2;
    const int illisible = 300;
    QStringList attendues;
    QStringList gardees;
    qint64 supprimes = 0;
    qint64 octets = 0;
    for (int age = 20 * 24 - 1; age >= 0; --age) {
        const qint64 instant = recente - age * heure;
        const QString nom = nomA(instant);
        if (age == illisible) {
            QFile fichier(dossier.filePath(nom));
            QVERIFY(fichier.open(QIODevice::WriteOnly));
            fichier.write("pas une base SQLite\n");
            attendues.append(QStringLiteral("Sauvegarde illisible : %1 (file is not a database), mise de côté sous le nom %1.illisible.").arg(nom));
            gardees.append(nom + FichierSauvegarde::suffixeIllisible());
            continue;
        }
        const qint64 taille = ecrireSauvegarde(dossier.filePath(nom), instant);
        QVERIFY(taille > 0);
        attendues.append(QStringLiteral("Sauvegarde archivée : %1 (1 hyperviseur, 1 VM, 120 mesures).").arg(nom));
        if (age >= 8 * 24) {
            ++supprimes;
            octets += taille;
        } else {
            gardees.append(nom);
        }
    }
    // The backup being written is neither read nor deleted.
    const QString enCours = nomA(recente + heure) + FichierSauvegarde::suffixeEnCours();
    QVERIFY(QFile(dossier.filePath(enCours)).open(QIODevice::WriteOnly));
    gardees.append(enCours);
    attendues.append(QStringLiteral("Sauvegardes supprimées : %1 fichiers, %2 octets, archivées et plus vieilles que 8 j.")
                         .arg(supprimes).arg(octets));

    QStringList console;
    int code = -1;
    QVERIFY(executer({QStringLiteral("--une-fois"), QStringLiteral("--sauvegardes=") + dossier.path()}, console, code));
    QCOMPARE(console, attendues);
    QCOMPARE(code, 0);
    QStringList restants = QDir(dossier.path()).entryList(QDir::Files);
    std::sort(restants.begin(), restants.end());
    std::sort(gardees.begin(), gardees.end());
    QCOMPARE(restants, gardees);

    // A series per host and VM, whose last update is the newest backup's.
    const QString archive = dossier.filePath(QStringLiteral("archive"));
    QVERIFY(QFile::exists(FichierArchive::cheminVM(archive, QStringLiteral("hv-essai"), QStringLiteral("vm-essai"))));
    QFile etat(archive + QLatin1Char('/') + FichierArchive::nomEtat());
    QVERIFY(etat.open(QIODevice::ReadOnly));
    QCOMPARE(int(etat.readAll().split('\n').size()) - 1, 8 * 24);

    // Again: nothing new, nothing to say.
    QVERIFY(executer({QStringLiteral("--une-fois"), QStringLiteral("--sauvegardes=") + dossier.path()}, console, code));
    QCOMPARE(console, QStringList());
    QCOMPARE(code, 0);
}

void TestCollecteurArchive::jamaisLaPlusRecente()
{
    QTemporaryDir dossier;
    QTemporaryDir archive;
    const qint64 maintenant = QDateTime::currentSecsSinceEpoch();
    QStringList noms;
    for (const int jours : {20, 19, 18}) {
        const qint64 instant = maintenant - jours * 24 * heure;
        noms.append(nomA(instant));
        QVERIFY(ecrireSauvegarde(dossier.filePath(noms.constLast()), instant) > 0);
    }
    QStringList console;
    int code = -1;
    QVERIFY(executer({QStringLiteral("--une-fois"), QStringLiteral("--brut=1h"), QStringLiteral("--sauvegardes=") + dossier.path(),
                      QStringLiteral("--archive=") + archive.path()},
                     console, code));
    QCOMPARE(code, 0);
    QCOMPARE(int(console.size()), 4);
    QVERIFY2(console.constLast().startsWith(QStringLiteral("Sauvegardes supprimées : 2 fichiers, ")), qPrintable(console.constLast()));
    QCOMPARE(QDir(dossier.path()).entryList(QDir::Files), QStringList{noms.constLast()});
}

void TestCollecteurArchive::service()
{
    QTemporaryDir dossier;
    QProcess processus;
    processus.start(QStringLiteral(ARCHIVE_BINAIRE), {QStringLiteral("--sauvegardes=") + dossier.path()});
    QVERIFY(processus.waitForStarted());
    QStringList console;
    const auto attendre = [&](int nombre) {
        QDeadlineTimer limite(30000);
        while (console.size() < nombre && !limite.hasExpired() && processus.state() == QProcess::Running) {
            processus.waitForReadyRead(100);
            console += lignes(processus);
        }
        return console.size() >= nombre;
    };
    QVERIFY(attendre(1));
    QCOMPARE(console.at(0), QStringLiteral("Archivage des sauvegardes de %1 dans %1/archive : sauvegardes archivées gardées 8 j, "
                                           "10 % du disque libre au moins.").arg(dossier.path()));

    // As the collector does: written aside, then renamed.
    const qint64 instant = QDateTime::currentSecsSinceEpoch();
    const QString nom = nomA(instant);
    QVERIFY(ecrireSauvegarde(dossier.filePath(nom + FichierSauvegarde::suffixeEnCours()), instant) > 0);
    QVERIFY(QFile::rename(dossier.filePath(nom + FichierSauvegarde::suffixeEnCours()), dossier.filePath(nom)));
    QVERIFY(attendre(2));
    QCOMPARE(console.at(1), QStringLiteral("Sauvegarde archivée : %1 (1 hyperviseur, 1 VM, 120 mesures).").arg(nom));

    processus.terminate();
    QVERIFY(processus.waitForFinished(30000));
    console += lignes(processus);
    QCOMPARE(console.mid(2), QStringList{QStringLiteral("Arrêt de l'archivage.")});
    QCOMPARE(processus.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processus.exitCode(), 0);
}

void TestCollecteurArchive::plancherSurTmpfs()
{
    QTemporaryDir point;
    QTemporaryDir archive;
    if (::mount("collecteur-essai", qPrintable(point.path()), "tmpfs", 0, "size=20m") != 0)
        QSKIP("Pas de tmpfs à monter ici (il faut être root, hors d'un chroot).");
    struct Demontage
    {
        QString chemin;
        ~Demontage() { ::umount2(qPrintable(chemin), MNT_DETACH); }
    } demontage{point.path()};

    // Six backups of 2.5 MiB each fill three quarters of it.
    const qint64 maintenant = QDateTime::currentSecsSinceEpoch();
    QStringList noms;
    QVector<qint64> tailles;
    for (int i = 5; i >= 0; --i) {
        const qint64 instant = maintenant - i * heure;
        noms.append(nomA(instant));
        tailles.append(ecrireSauvegarde(point.path() + QLatin1Char('/') + noms.constLast(), instant, 2500 * 1024));
        QVERIFY(tailles.constLast() > 0);
    }
    QStringList console;
    int code = -1;
    QVERIFY(executer({QStringLiteral("--une-fois"), QStringLiteral("--espace-libre=50%"),
                      QStringLiteral("--sauvegardes=") + point.path(), QStringLiteral("--archive=") + archive.path()},
                     console, code));
    QCOMPARE(code, 0);
    QCOMPARE(int(console.size()), 7);
    const QStringList restants = QDir(point.path()).entryList(QDir::Files, QDir::Name);
    // The oldest went first, and only as many as the floor asked.
    const int supprimes = int(noms.size() - restants.size());
    QVERIFY2(supprimes >= 1 && supprimes < noms.size(), qPrintable(console.join(QLatin1Char('\n'))));
    QCOMPARE(QDir(point.path()).entryList(QDir::Files), noms.mid(supprimes));
    qint64 octets = 0;
    for (int i = 0; i < supprimes; ++i)
        octets += tailles.at(i);
    QCOMPARE(console.constLast(), QStringLiteral("Sauvegardes supprimées : %1, %2 octets, archivées, pour garder 50 % d'espace libre.")
                                      .arg(supprimes == 1 ? QStringLiteral("1 fichier") : QStringLiteral("%1 fichiers").arg(supprimes))
                                      .arg(octets));
    struct statvfs etat{};
    QVERIFY(::statvfs(qPrintable(point.path()), &etat) == 0);
    QVERIFY(etat.f_bavail * 2 >= etat.f_blocks);
}

QTEST_GUILESS_MAIN(TestCollecteurArchive)
#include "tst_collecteurarchive.moc"
