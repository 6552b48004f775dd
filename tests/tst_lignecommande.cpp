// SPDX-License-Identifier: MIT
#include "LigneCommande.h"
#include "ParametresCollecteur.h"
#include "Taille.h"

#include <QTest>

#include <unistd.h>

class TestLigneCommande : public QObject
{
    Q_OBJECT

private slots:
    void portUdp_data();
    void portUdp();
    void clientsMax_data();
    void clientsMax();
    void journal_data();
    void journal();
    void memoireMax_data();
    void memoireMax();
    void memoireMaxParDefaut();
    void texteTaille_data();
    void texteTaille();
    void aide_data();
    void aide();
    void lire_data();
    void lire();
    void lireTout();
};

void TestLigneCommande::portUdp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("port");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("sans option") << QStringList{programme} << 55000;
    QTest::newRow("autres arguments") << QStringList{programme, QStringLiteral("-v"), QStringLiteral("port=7")} << 55000;
    QTest::newRow("12345") << QStringList{programme, QStringLiteral("--port=12345")} << 12345;
    QTest::newRow("vide") << QStringList{programme, QStringLiteral("--port=")} << 0;
    QTest::newRow("lettres") << QStringList{programme, QStringLiteral("--port=abc")} << 0;
    QTest::newRow("au-dela de 65535") << QStringList{programme, QStringLiteral("--port=70000")} << 0;
    QTest::newRow("65535") << QStringList{programme, QStringLiteral("--port=65535")} << 65535;
    QTest::newRow("six chiffres") << QStringList{programme, QStringLiteral("--port=123456")} << 12345;
    QTest::newRow("signe moins") << QStringList{programme, QStringLiteral("--port=-80")} << 80;
    QTest::newRow("zeros en tete") << QStringList{programme, QStringLiteral("--port=00080")} << 80;
    QTest::newRow("option dans un argument") << QStringList{programme, QStringLiteral("x--port=9")} << 9;
    QTest::newRow("chiffres apres du texte") << QStringList{programme, QStringLiteral("--port=ab12")} << 12;
    QTest::newRow("deux options") << QStringList{programme, QStringLiteral("--port=7"), QStringLiteral("--port=8")} << 7;
    QTest::newRow("majuscules") << QStringList{programme, QStringLiteral("--PORT=7")} << 55000;
}

void TestLigneCommande::portUdp()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, port);
    QCOMPARE(int(LigneCommande::portUdp(arguments)), port);
}

void TestLigneCommande::clientsMax_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("clients");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("sans option") << QStringList{programme, QStringLiteral("--port=1")} << 256;
    QTest::newRow("10") << QStringList{programme, QStringLiteral("--clients-max=10")} << 10;
    QTest::newRow("la derniere l'emporte")
        << QStringList{programme, QStringLiteral("--clients-max=10"), QStringLiteral("--clients-max=20")} << 20;
    QTest::newRow("zero") << QStringList{programme, QStringLiteral("--clients-max=0")} << -1;
    QTest::newRow("lettres") << QStringList{programme, QStringLiteral("--clients-max=dix")} << -1;
    QTest::newRow("vide") << QStringList{programme, QStringLiteral("--clients-max=")} << -1;
    QTest::newRow("trop grand") << QStringList{programme, QStringLiteral("--clients-max=70000")} << -1;
}

void TestLigneCommande::clientsMax()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, clients);
    QCOMPARE(LigneCommande::clientsMax(arguments, 256), clients);
}

void TestLigneCommande::journal_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("journal");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("par defaut") << QStringList{programme} << 1;
    QTest::newRow("aucun") << QStringList{programme, QStringLiteral("--journal=aucun")} << 0;
    QTest::newRow("valeur inconnue") << QStringList{programme, QStringLiteral("--journal=oui")} << -1;
}

void TestLigneCommande::journal()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, journal);
    QCOMPARE(LigneCommande::journal(arguments), journal);
}

void TestLigneCommande::memoireMax_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("octets");

    const QString programme = QStringLiteral("/usr/bin/collecteur");
    const auto avec = [&programme](const char *valeur) {
        return QStringList{programme, QStringLiteral("--memoire-max=") + QLatin1String(valeur)};
    };
    const qint64 mio = 1024 * 1024;
    QTest::newRow("sans option") << QStringList{programme, QStringLiteral("--port=1")} << qint64(-7);
    QTest::newRow("octets") << avec("536870912") << 512 * mio;
    QTest::newRow("512M") << avec("512M") << 512 * mio;
    QTest::newRow("512m") << avec("512m") << 512 * mio;
    QTest::newRow("2G") << avec("2G") << 2048 * mio;
    QTest::newRow("1.5G") << avec("1.5G") << 1536 * mio;
    QTest::newRow("virgule decimale") << avec("1,5G") << 1536 * mio;
    QTest::newRow("1T") << avec("1T") << 1024 * 1024 * mio;
    QTest::newRow("Mo") << avec("512Mo") << 512 * mio;
    QTest::newRow("Mio") << avec("512Mio") << 512 * mio;
    QTest::newRow("MiB") << avec("512MiB") << 512 * mio;
    QTest::newRow("kilo") << avec("4096k") << 4 * mio;
    QTest::newRow("minimum") << avec("1M") << mio;
    QTest::newRow("octets arrondis") << avec("1.0000001M") << mio;
    QTest::newRow("la derniere l'emporte")
        << QStringList{programme, QStringLiteral("--memoire-max=1G"), QStringLiteral("--memoire-max=2G")} << 2048 * mio;
    QTest::newRow("sous le minimum") << avec("1023K") << qint64(-1);
    QTest::newRow("zero") << avec("0") << qint64(-1);
    QTest::newRow("negatif") << avec("-1G") << qint64(-1);
    QTest::newRow("vide") << avec("") << qint64(-1);
    QTest::newRow("unite seule") << avec("G") << qint64(-1);
    QTest::newRow("unite inconnue") << avec("12X") << qint64(-1);
    QTest::newRow("deux unites") << avec("1GM") << qint64(-1);
    QTest::newRow("exposant") << avec("1e9") << qint64(-1);
    QTest::newRow("demesure") << avec("99999999T") << qint64(-1);
}

void TestLigneCommande::memoireMax()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, octets);
    QCOMPARE(LigneCommande::memoireMax(arguments, -7), octets);
}

void TestLigneCommande::memoireMaxParDefaut()
{
    const qint64 memoire = qint64(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    QCOMPARE(LigneCommande::memoireMaxParDefaut(), memoire / 4);
}

void TestLigneCommande::texteTaille_data()
{
    QTest::addColumn<qint64>("octets");
    QTest::addColumn<QString>("texte");
    QTest::newRow("octets") << qint64(900) << QStringLiteral("900 o");
    QTest::newRow("Kio") << qint64(1024) << QStringLiteral("1 Kio");
    QTest::newRow("Mio") << qint64(512) * 1024 * 1024 << QStringLiteral("512 Mio");
    QTest::newRow("decimale") << qint64(1536) * 1024 * 1024 << QStringLiteral("1,5 Gio");
    QTest::newRow("au dixieme") << qint64(1342177280) << QStringLiteral("1,3 Gio");
}

void TestLigneCommande::texteTaille()
{
    QFETCH(qint64, octets);
    QFETCH(QString, texte);
    QCOMPARE(Taille::texte(octets), texte);
}

void TestLigneCommande::aide_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("aide");
    const QString programme = QStringLiteral("/usr/bin/collecteur");
    QTest::newRow("--help") << QStringList{programme, QStringLiteral("--help")} << true;
    QTest::newRow("-h parmi d'autres") << QStringList{programme, QStringLiteral("--port=1"), QStringLiteral("-h")} << true;
    QTest::newRow("sans") << QStringList{programme, QStringLiteral("--port=1")} << false;
    QTest::newRow("programme nomme --help") << QStringList{QStringLiteral("--help")} << false;
    QTest::newRow("dans un autre argument") << QStringList{programme, QStringLiteral("--helper")} << false;
}

void TestLigneCommande::aide()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, aide);
    QCOMPARE(LigneCommande::aideDemandee(arguments), aide);
}

void TestLigneCommande::lire_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("erreur");
    QTest::newRow("aucune") << QStringList() << QString();
    QTest::newRow("clients-max") << QStringList{QStringLiteral("--clients-max=0")} << QStringLiteral("--clients-max");
    QTest::newRow("journal") << QStringList{QStringLiteral("--journal=oui")} << QStringLiteral("--journal");
    QTest::newRow("memoire-max") << QStringList{QStringLiteral("--memoire-max=1K")} << QStringLiteral("--memoire-max");
    QTest::newRow("derive-max") << QStringList{QStringLiteral("--derive-max=86401")} << QStringLiteral("--derive-max");
    QTest::newRow("afficheurs") << QStringList{QStringLiteral("--afficheurs=10.0.0.0/99")} << QStringLiteral("--afficheurs");
    // Checked in a fixed order, whatever the order on the command line.
    QTest::newRow("la premiere de l'ordre")
        << QStringList{QStringLiteral("--afficheurs=x"), QStringLiteral("--journal=x"), QStringLiteral("--clients-max=x")}
        << QStringLiteral("--clients-max");
}

void TestLigneCommande::lire()
{
    QFETCH(QStringList, options);
    QFETCH(QString, erreur);
    ParametresCollecteur parametres;
    QString lue;
    const bool ok = LigneCommande::lire(QStringList{QStringLiteral("collecteur")} + options, parametres, lue);
    QCOMPARE(ok, erreur.isEmpty());
    if (!ok)
        QVERIFY2(lue.startsWith(QStringLiteral("Valeur invalide pour %1 (").arg(erreur)), qPrintable(lue));
}

void TestLigneCommande::lireTout()
{
    ParametresCollecteur parametres;
    QString erreur;
    QVERIFY(LigneCommande::lire(QStringList{QStringLiteral("collecteur"), QStringLiteral("--port=55001"),
                                            QStringLiteral("--clients-max=7"), QStringLiteral("--journal=aucun"),
                                            QStringLiteral("--memoire-max=2M"), QStringLiteral("--cles=/etc/cles"),
                                            QStringLiteral("--derive-max=30"), QStringLiteral("--afficheurs=::1,10.0.0.0/8")},
                                parametres, erreur));
    QCOMPARE(parametres.portUdp, quint16(55001));
    QCOMPARE(parametres.clientsMax, 7);
    QCOMPARE(parametres.journal, false);
    QCOMPARE(parametres.memoireMax, qint64(2 * 1024 * 1024));
    QCOMPARE(parametres.cles, QStringLiteral("/etc/cles"));
    QCOMPARE(parametres.deriveMax, qint64(30));
    QCOMPARE(parametres.afficheurs.size(), 2);
    QCOMPARE(parametres.afficheurs.first().second, 128);
    // What the display port is does not come from the command line.
    QCOMPARE(parametres.portAffichage, ParametresCollecteur().portAffichage);
}

QTEST_GUILESS_MAIN(TestLigneCommande)
#include "tst_lignecommande.moc"
