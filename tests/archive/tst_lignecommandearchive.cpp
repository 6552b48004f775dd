// SPDX-License-Identifier: MIT
#include "Duree.h"
#include "LigneCommandeArchive.h"

#include <QTest>

class TestLigneCommandeArchive : public QObject
{
    Q_OBJECT

private slots:
    void durees_data();
    void durees();
    void options_data();
    void options();
};

void TestLigneCommandeArchive::durees_data()
{
    QTest::addColumn<QString>("texte");
    QTest::addColumn<qint64>("secondes"); // -1: refused
    QTest::addColumn<QString>("affichee");
    QTest::newRow("jours") << QStringLiteral("8j") << qint64(691200) << QStringLiteral("8 j");
    QTest::newRow("heures") << QStringLiteral("36h") << qint64(129600) << QStringLiteral("36 h");
    QTest::newRow("heures en jours") << QStringLiteral("48h") << qint64(172800) << QStringLiteral("2 j");
    QTest::newRow("minutes") << QStringLiteral("90m") << qint64(5400) << QStringLiteral("90 min");
    QTest::newRow("secondes") << QStringLiteral("600s") << qint64(600) << QStringLiteral("10 min");
    QTest::newRow("zéro") << QStringLiteral("0s") << qint64(0) << QStringLiteral("0 s");
    QTest::newRow("sans unité") << QStringLiteral("8") << qint64(-1) << QString();
    QTest::newRow("unité inconnue") << QStringLiteral("8d") << qint64(-1) << QString();
    QTest::newRow("négative") << QStringLiteral("-1h") << qint64(-1) << QString();
    QTest::newRow("décimale") << QStringLiteral("1.5h") << qint64(-1) << QString();
    QTest::newRow("espace") << QStringLiteral("8 j") << qint64(-1) << QString();
    QTest::newRow("trop longue") << QStringLiteral("999999999999j") << qint64(-1) << QString();
}

void TestLigneCommandeArchive::durees()
{
    QFETCH(QString, texte);
    QFETCH(qint64, secondes);
    QFETCH(QString, affichee);
    qint64 lue = -1;
    QCOMPARE(Duree::lire(texte, lue), secondes >= 0);
    QCOMPARE(lue, secondes);
    if (secondes >= 0)
        QCOMPARE(Duree::texte(lue), affichee);
}

void TestLigneCommandeArchive::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("resultat");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<qint64>("brut");
    QTest::addColumn<double>("espaceLibre");
    QTest::addColumn<bool>("uneFois");

    QTest::newRow("défauts") << QStringList() << int(LigneCommandeArchive::Valide) << QString()
                             << QStringLiteral("archive") << qint64(691200) << 10.0 << false;
    QTest::newRow("archive sous les sauvegardes")
        << QStringList{QStringLiteral("--sauvegardes=/var/lib/collecteur"), QStringLiteral("--une-fois")}
        << int(LigneCommandeArchive::Valide) << QString() << QStringLiteral("/var/lib/collecteur/archive")
        << qint64(691200) << 10.0 << true;
    QTest::newRow("tout donné")
        << QStringList{QStringLiteral("--archive=/srv/a"), QStringLiteral("--brut=36h"), QStringLiteral("--espace-libre=7.5%")}
        << int(LigneCommandeArchive::Valide) << QString() << QStringLiteral("/srv/a") << qint64(129600) << 7.5 << false;
    QTest::newRow("durée invalide")
        << QStringList{QStringLiteral("--brut=8")} << int(LigneCommandeArchive::Invalide)
        << QStringLiteral("Valeur invalide pour --brut : « 8 » (durée attendue : 8j, 36h, 90m, 600s).") << QString()
        << qint64(0) << 0.0 << false;
    QTest::newRow("pourcentage invalide")
        << QStringList{QStringLiteral("--espace-libre=100%")} << int(LigneCommandeArchive::Invalide)
        << QStringLiteral("Valeur invalide pour --espace-libre : « 100% » (pourcentage de 0 à 99 attendu).")
        << QString() << qint64(0) << 0.0 << false;
    QTest::newRow("argument en trop")
        << QStringList{QStringLiteral("dossier")} << int(LigneCommandeArchive::Invalide)
        << QStringLiteral("Argument inattendu : dossier") << QString() << qint64(0) << 0.0 << false;
}

void TestLigneCommandeArchive::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, resultat);
    QFETCH(QString, message);
    QFETCH(QString, archive);
    QFETCH(qint64, brut);
    QFETCH(double, espaceLibre);
    QFETCH(bool, uneFois);
    ParametresArchive parametres;
    QString texte;
    arguments.prepend(QStringLiteral("collecteur-archive"));
    QCOMPARE(int(LigneCommandeArchive::analyser(arguments, parametres, texte)), resultat);
    QCOMPARE(texte, message);
    if (resultat != LigneCommandeArchive::Valide)
        return;
    QCOMPARE(parametres.archive, archive);
    QCOMPARE(parametres.regles.brut, brut);
    QCOMPARE(parametres.regles.espaceLibre, espaceLibre);
    QCOMPARE(parametres.uneFois, uneFois);
}

QTEST_GUILESS_MAIN(TestLigneCommandeArchive)
#include "tst_lignecommandearchive.moc"
