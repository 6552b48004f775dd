// SPDX-License-Identifier: MIT
#include "FichierArchive.h"
#include "FichierRrd.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestFichierArchive : public QObject
{
    Q_OBJECT

private slots:
    void nomFichier_data();
    void nomFichier();
    void nomsLongs();
    void chemins();
    void tailleExacte_data();
    void tailleExacte();
};

void TestFichierArchive::nomFichier_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<QString>("composant");
    QTest::newRow("simple") << QStringLiteral("hv-paris_01") << QStringLiteral("hv-paris_01");
    QTest::newRow("nom de domaine") << QStringLiteral("hv1.example.org") << QStringLiteral("hv1.example.org");
    QTest::newRow("caché") << QStringLiteral(".cache") << QStringLiteral("%2Ecache");
    QTest::newRow("point") << QStringLiteral(".") << QStringLiteral("%2E");
    QTest::newRow("parent") << QStringLiteral("..") << QStringLiteral("%2E.");
    QTest::newRow("chemin") << QStringLiteral("../../etc/passwd") << QStringLiteral("%2E.%2F..%2Fetc%2Fpasswd");
    QTest::newRow("pourcent") << QStringLiteral("50%") << QStringLiteral("50%25");
    QTest::newRow("espace et tilde") << QStringLiteral("a b~") << QStringLiteral("a%20b%7E");
    QTest::newRow("unicode") << QStringLiteral("h\u00f4te-\u00e9t\u00e9") << QStringLiteral("h%C3%B4te-%C3%A9t%C3%A9");
    QTest::newRow("hors du plan de base") << QStringLiteral("\U0001F600") << QStringLiteral("%F0%9F%98%80");
    QTest::newRow("contrôle") << QStringLiteral("a\nb") << QStringLiteral("a%0Ab");
    QTest::newRow("vide") << QString() << QStringLiteral("%");
}

void TestFichierArchive::nomFichier()
{
    QFETCH(QString, nom);
    QFETCH(QString, composant);
    QCOMPARE(FichierArchive::nomFichier(nom), composant);
    const QString retour = FichierArchive::nomDepuisFichier(composant);
    QVERIFY(!retour.isNull());
    QCOMPARE(retour, nom.isNull() ? QStringLiteral("") : nom);
    QCOMPARE(FichierArchive::nomVM(FichierArchive::prefixeVM() + composant + FichierArchive::extension()), retour);
}

void TestFichierArchive::nomsLongs()
{
    const QString chinois(300, QChar(0x4E2D));
    const QString autre = chinois.left(299) + QLatin1Char('x');
    const QString ascii(400, QLatin1Char('a'));
    for (const QString &nom : {chinois, autre, ascii}) {
        const QString composant = FichierArchive::nomFichier(nom);
        QVERIFY2(composant.size() <= FichierArchive::longueurMaximum, qPrintable(composant));
        QVERIFY(composant.contains(QLatin1Char('~')));
        QVERIFY(!composant.contains(QLatin1Char('/')));
        QVERIFY(FichierArchive::nomDepuisFichier(composant).isNull());
        // A file name, its prefix and suffixes included, fits NAME_MAX.
        QVERIFY((FichierArchive::prefixeVM() + composant + FichierArchive::suffixeNom()).toUtf8().size() <= 255);
    }
    QVERIFY(FichierArchive::nomFichier(chinois) != FichierArchive::nomFichier(autre));
    // Cut on a whole byte's encoding, never inside a %XX.
    const QString composant = FichierArchive::nomFichier(chinois);
    QVERIFY(composant.indexOf(QLatin1Char('~')) % 3 == 0);
    // Spellings that nomFichier() never writes are no names.
    for (const QString &faux : {QStringLiteral("%2e"), QStringLiteral("%4"), QStringLiteral("%41"), QStringLiteral(".a"),
                                QStringLiteral("a/b"), QStringLiteral("a~b")})
        QVERIFY2(FichierArchive::nomDepuisFichier(faux).isNull(), qPrintable(faux));
}

void TestFichierArchive::chemins()
{
    QCOMPARE(FichierArchive::cheminHyperviseur(QStringLiteral("/a"), QStringLiteral("hv/1")),
             QStringLiteral("/a/hyperviseurs/hv%2F1/hyperviseur.rrd"));
    QCOMPARE(FichierArchive::cheminVM(QStringLiteral("/a"), QStringLiteral("hv"), QStringLiteral("..")),
             QStringLiteral("/a/hyperviseurs/hv/vm-%2E..rrd"));
    QCOMPARE(FichierArchive::definitions(FichierArchive::sourcesVM()),
             QStringList({QStringLiteral("DS:cpu:GAUGE:180:U:U"), QStringLiteral("DS:ram:GAUGE:180:U:U"),
                          QStringLiteral("DS:maxram:GAUGE:180:U:U"), QStringLiteral("DS:network:GAUGE:180:U:U"),
                          QStringLiteral("RRA:AVERAGE:0.5:30:2304"), QStringLiteral("RRA:MAX:0.5:30:2304"),
                          QStringLiteral("RRA:AVERAGE:0.5:360:8784"), QStringLiteral("RRA:MAX:0.5:360:8784"),
                          QStringLiteral("RRA:AVERAGE:0.5:8640:1827"), QStringLiteral("RRA:MAX:0.5:8640:1827")}));
}

void TestFichierArchive::tailleExacte_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<qint64>("taille");
    QTest::newRow("hyperviseur") << FichierArchive::sourcesHyperviseur() << qint64(1245024);
    QTest::newRow("VM") << FichierArchive::sourcesVM() << qint64(830320);
}

void TestFichierArchive::tailleExacte()
{
    QFETCH(QStringList, sources);
    QFETCH(qint64, taille);
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(QStringLiteral("essai.rrd"));
    QString erreur;
    QVERIFY2(FichierRrd::creer(chemin, sources, 1700000000, erreur), qPrintable(erreur));
    QCOMPARE(QFileInfo(chemin).size(), taille);
    QCOMPARE(FichierArchive::taille(int(sources.size())), taille);
    QVERIFY2(!FichierRrd::creer(chemin, sources, 1700000000, erreur), "un fichier existant n'est pas remplacé");

    // A year of a fleet of 1,000 hosts and 20,000 VMs: within one day of its
    // raw files, 19.3 GB.
    const qint64 flotte = 1000 * FichierArchive::taille(int(FichierArchive::sourcesHyperviseur().size()))
                          + 20000 * FichierArchive::taille(int(FichierArchive::sourcesVM().size()));
    QCOMPARE(flotte, qint64(17851424000));
    QVERIFY(flotte < qint64(19300000000));
}

QTEST_GUILESS_MAIN(TestFichierArchive)
#include "tst_fichierarchive.moc"
