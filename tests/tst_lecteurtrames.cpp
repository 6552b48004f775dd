// SPDX-License-Identifier: MIT
#include "LecteurTrames.h"

#include <QTest>

namespace {

QByteArray entete(qint32 longueur, char marqueur)
{
    const auto n = quint32(longueur);
    QByteArray octets;
    octets.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n)).append(marqueur);
    return octets;
}

QByteArray trame(const QByteArray &texte)
{
    return entete(qint32(texte.size()), 1) + texte;
}

} // namespace

class TestLecteurTrames : public QObject
{
    Q_OBJECT

private slots:
    void decoupage_data();
    void decoupage();
    void octetsExacts();
    void erreurs_data();
    void erreurs();
    void longueurMaximaleAcceptee();
};

void TestLecteurTrames::decoupage_data()
{
    QTest::addColumn<int>("morceau");
    QTest::newRow("octet par octet") << 1;
    QTest::newRow("par 2") << 2;
    QTest::newRow("par 3") << 3;
    QTest::newRow("par 5") << 5;
    QTest::newRow("par 7") << 7;
    QTest::newRow("par 301") << 301;
    QTest::newRow("tout en un morceau") << 1000000;
}

void TestLecteurTrames::decoupage()
{
    QFETCH(int, morceau);

    const QStringList textes{QStringLiteral("abc"), QString(), QString(300, QLatin1Char('x')),
                             QStringLiteral("{\"name\":\"h\u00e9\"}"), QString(), QStringLiteral("fin")};
    QByteArray flux;
    for (const QString &texte : textes)
        flux += trame(texte.toLatin1());

    LecteurTrames lecteur;
    QStringList lus;
    QString texte;
    for (int debut = 0; debut < flux.size(); debut += morceau) {
        lecteur.ajouter(flux.mid(debut, morceau));
        LecteurTrames::Resultat resultat;
        while ((resultat = lecteur.lire(texte)) == LecteurTrames::TrameLue)
            lus.append(texte);
        QCOMPARE(resultat, LecteurTrames::Incomplet);
    }
    QCOMPARE(lus, textes);
    QCOMPARE(lecteur.octetsEnAttente(), qint64(0));
}

void TestLecteurTrames::octetsExacts()
{
    LecteurTrames lecteur;
    QString texte;
    lecteur.ajouter(QByteArray::fromHex("0000000301616263"));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::TrameLue);
    QCOMPARE(texte, QStringLiteral("abc"));

    lecteur.ajouter(QByteArray::fromHex("0000000101e9000000"));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::TrameLue);
    QCOMPARE(texte, QString(QChar(0xE9)));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::Incomplet);
    QCOMPARE(lecteur.octetsEnAttente(), qint64(3));

    lecteur.ajouter(QByteArray::fromHex("0001"));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::TrameLue);
    QCOMPARE(texte, QString());
}

void TestLecteurTrames::erreurs_data()
{
    QTest::addColumn<QByteArray>("octets");
    QTest::addColumn<QString>("message");

    QTest::newRow("marqueur 0") << entete(3, 0) + "abc" << QStringLiteral("Trame invalide : marqueur 0 au lieu de 1.");
    QTest::newRow("marqueur 2") << entete(3, 2) + "abc" << QStringLiteral("Trame invalide : marqueur 2 au lieu de 1.");
    QTest::newRow("marqueur -1") << entete(0, char(0xFF)) << QStringLiteral("Trame invalide : marqueur -1 au lieu de 1.");
    QTest::newRow("longueur negative") << entete(-1, 1) << QStringLiteral("Trame invalide : longueur négative (-1).");
    QTest::newRow("longueur absurde") << entete(64 * 1024 * 1024 + 1, 1)
                                      << QStringLiteral("Trame invalide : longueur 67108865 au-delà de la limite de 67108864 octets.");
}

void TestLecteurTrames::erreurs()
{
    QFETCH(QByteArray, octets);
    QFETCH(QString, message);

    // A good frame before the bad one is still delivered; nothing after it is.
    LecteurTrames lecteur;
    lecteur.ajouter(trame("ok") + octets + trame("apres"));
    QString texte;
    QCOMPARE(lecteur.lire(texte), LecteurTrames::TrameLue);
    QCOMPARE(texte, QStringLiteral("ok"));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::Erreur);
    QCOMPARE(lecteur.erreur(), message);
    lecteur.ajouter(trame("encore"));
    QCOMPARE(lecteur.lire(texte), LecteurTrames::Erreur);
}

void TestLecteurTrames::longueurMaximaleAcceptee()
{
    LecteurTrames lecteur;
    lecteur.ajouter(entete(64 * 1024 * 1024, 1) + "debut");
    QString texte;
    QCOMPARE(lecteur.lire(texte), LecteurTrames::Incomplet);
    QVERIFY(lecteur.erreur().isEmpty());
}

QTEST_GUILESS_MAIN(TestLecteurTrames)
#include "tst_lecteurtrames.moc"
