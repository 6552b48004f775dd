// SPDX-License-Identifier: MIT
#include "LectureHote.h"

#include <QFile>
#include <QTest>

#include <sys/statvfs.h>

#include <cmath>

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

const QString racines = QStringLiteral(RACINES);

using Valeur = std::optional<double>;

// Two readings of a fixture tree taken ten seconds apart.
MesuresHote mesurer(const QString &cas)
{
    EchantillonHote avant = LectureHote(racines + QLatin1Char('/') + cas + QStringLiteral("/avant"), QString()).lire();
    EchantillonHote apres = LectureHote(racines + QLatin1Char('/') + cas + QStringLiteral("/apres"), QString()).lire();
    avant.instantMs = 1000;
    apres.instantMs = 11000;
    return MesuresHote::calculer(avant, apres);
}

QByteArray texte(const Valeur &valeur)
{
    return valeur ? QByteArray::number(*valeur, 'f', 2) : QByteArray("absente");
}

} // namespace

class TestLectureHote : public QObject
{
    Q_OBJECT

private slots:
    void mesures_data();
    void mesures();
    void absences();
    void occupationDisque_data();
    void occupationDisque();
    void disque_data();
    void disque();
};

void TestLectureHote::mesures_data()
{
    QTest::addColumn<QString>("cas");
    QTest::addColumn<Valeur>("cpu");
    QTest::addColumn<Valeur>("ram");
    QTest::addColumn<Valeur>("network");
    QTest::addColumn<Valeur>("cputemp");
    QTest::addColumn<Valeur>("mbtemp");

    // busy = 400 of 1550 (guest time once), 25 MB over 10 s on eth0 across
    // 2^32, virtual interfaces left out; the hotter of two packages, not a core.
    QTest::newRow("invites, deux coretemp, acpitz")
        << QStringLiteral("invites") << Valeur(25.8) << Valeur(62.5) << Valeur(20.0) << Valeur(64.5) << Valeur(27.8);
    // cpu0's iowait steps back (counted 0): 500 of 2000; enp3s0 reset counts 0.
    QTest::newRow("compteurs en recul, k10temp seul, nct6775")
        << QStringLiteral("recul") << Valeur(25.0) << Valeur(75.0) << Valeur(1.0) << Valeur(65.0) << Valeur(36.0);
    // cpu3 disappears with its large idle time: 600 of 3000, not 100 %.
    QTest::newRow("processeur hors ligne, aucun capteur")
        << QStringLiteral("hors-ligne") << Valeur(20.0) << Valeur() << Valeur() << Valeur() << Valeur();
    // Identical readings: no time passed, no rate; it87 SYSTIN out of range.
    QTest::newRow("zones x86_pkg_temp, it87 hors limites")
        << QStringLiteral("zones") << Valeur() << Valeur(10.0) << Valeur(0.0) << Valeur(52.0) << Valeur();
}

void TestLectureHote::mesures()
{
    QFETCH(QString, cas);
    QFETCH(Valeur, cpu);
    QFETCH(Valeur, ram);
    QFETCH(Valeur, network);
    QFETCH(Valeur, cputemp);
    QFETCH(Valeur, mbtemp);

    const MesuresHote mesures = mesurer(cas);
    QCOMPARE(texte(mesures.cpu), texte(cpu));
    QCOMPARE(texte(mesures.ram), texte(ram));
    QCOMPARE(texte(mesures.network), texte(network));
    QCOMPARE(texte(mesures.cputemp), texte(cputemp));
    QCOMPARE(texte(mesures.mbtemp), texte(mbtemp));

    // Every key left out has its reason, and only those.
    QStringList absentes;
    for (const auto &[cle, valeur] : {std::pair<QString, Valeur>{QStringLiteral("cpu"), mesures.cpu},
                                      {QStringLiteral("cputemp"), mesures.cputemp},
                                      {QStringLiteral("mbtemp"), mesures.mbtemp},
                                      {QStringLiteral("network"), mesures.network},
                                      {QStringLiteral("ram"), mesures.ram}}) {
        if (!valeur)
            absentes << cle;
    }
    QCOMPARE(mesures.absences.keys(), absentes);
}

void TestLectureHote::absences()
{
    const MesuresHote mesures = mesurer(QStringLiteral("hors-ligne"));
    const QString racine = racines + QStringLiteral("/hors-ligne/apres");
    QCOMPARE(mesures.absences.value(QStringLiteral("ram")),
             QStringLiteral("MemTotal ou MemAvailable absent de %1/proc/meminfo").arg(racine));
    QCOMPARE(mesures.absences.value(QStringLiteral("network")),
             QStringLiteral("%1/proc/net/dev illisible (No such file or directory)").arg(racine));
    QCOMPARE(mesures.absences.value(QStringLiteral("cputemp")),
             QStringLiteral("aucune sonde coretemp, k10temp, zenpower ni zone thermique x86_pkg_temp lisible"));
    QCOMPARE(mesures.absences.value(QStringLiteral("mbtemp")),
             QStringLiteral("aucune zone thermique acpitz ni sonde nct67xx ou it87 lisible"));
    QCOMPARE(mesurer(QStringLiteral("zones")).absences.value(QStringLiteral("cpu")),
             QStringLiteral("aucun temps écoulé dans /proc/stat entre deux lectures"));
}

void TestLectureHote::occupationDisque_data()
{
    QTest::addColumn<quint64>("blocs");
    QTest::addColumn<quint64>("libres");
    QTest::addColumn<quint64>("disponibles");
    QTest::addColumn<Valeur>("attendue");

    // 700 used of 1000, 50 of the 300 free kept for root: 700 / (700 + 250).
    QTest::newRow("blocs réservés à root") << quint64(1000) << quint64(300) << quint64(250) << Valeur(73.68);
    QTest::newRow("sans réserve") << quint64(1000) << quint64(400) << quint64(400) << Valeur(60.0);
    // Users can write nothing more: full for them, whatever root still has.
    QTest::newRow("plein pour les utilisateurs") << quint64(1000) << quint64(50) << quint64(0) << Valeur(100.0);
    QTest::newRow("vide") << quint64(1000) << quint64(1000) << quint64(950) << Valeur(0.0);
    // 2^40 blocks, beyond what 32-bit arithmetic holds.
    QTest::newRow("très grand") << (quint64(1) << 40) << (quint64(1) << 38) << (quint64(1) << 38) << Valeur(75.0);
    QTest::newRow("sans taille (procfs)") << quint64(0) << quint64(0) << quint64(0) << Valeur();
    QTest::newRow("libres au-delà du total") << quint64(10) << quint64(20) << quint64(20) << Valeur(0.0);
}

void TestLectureHote::occupationDisque()
{
    QFETCH(quint64, blocs);
    QFETCH(quint64, libres);
    QFETCH(quint64, disponibles);
    QFETCH(Valeur, attendue);

    QCOMPARE(texte(LectureHote::occupationDisque(blocs, libres, disponibles)), texte(attendue));
}

void TestLectureHote::disque_data()
{
    QTest::addColumn<QString>("racine");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("attendu");

    const QString invites = racines + QStringLiteral("/invites/apres");
    QTest::newRow("dossier des images") << invites << QString() << invites + QStringLiteral("/var/lib/libvirt/images");
    QTest::newRow("sans images : la racine") << racines + QStringLiteral("/recul/apres") << QString()
                                             << racines + QStringLiteral("/recul/apres/");
    QTest::newRow("--disque") << invites << QStringLiteral("/proc") << invites + QStringLiteral("/proc");
    QTest::newRow("--disque absent") << invites << QStringLiteral("/nulle/part") << QString();
}

void TestLectureHote::disque()
{
    QFETCH(QString, racine);
    QFETCH(QString, option);
    QFETCH(QString, attendu);

    const LectureHote lecture(racine, option);
    const EchantillonHote echantillon = lecture.lire();
    if (attendu.isEmpty()) {
        QVERIFY(!echantillon.disque);
        QCOMPARE(echantillon.erreurDisque,
                 QStringLiteral("%1/nulle/part illisible (No such file or directory)").arg(racine));
        return;
    }
    QCOMPARE(lecture.cheminDisque(), attendu);
    QVERIFY2(echantillon.disque, qPrintable(echantillon.erreurDisque));
    // The filesystem's own counts, read here as df reads them: the list of
    // mount points, which a chroot does not show, plays no part.
    struct statvfs etat = {};
    QVERIFY2(::statvfs(QFile::encodeName(attendu).constData(), &etat) == 0, qPrintable(attendu));
    const double utilise = double(etat.f_blocks - etat.f_bfree);
    const double pourcentage = 100.0 * utilise / (utilise + double(etat.f_bavail));
    QVERIFY2(std::abs(*echantillon.disque - pourcentage) < 0.5,
             qPrintable(QStringLiteral("%1 au lieu de %2").arg(*echantillon.disque).arg(pourcentage)));
}

QTEST_GUILESS_MAIN(TestLectureHote)
#include "tst_lecturehote.moc"
