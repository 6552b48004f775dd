// SPDX-License-Identifier: MIT
#include "DatagrammeRapport.h"
#include "DecodeurDatagrammes.h"

#include <QTest>

namespace {
constexpr qint64 heure = 3600 * 1000;
}

class TestDecodeurDatagrammes : public QObject
{
    Q_OBJECT

private slots:
    void expediteursOublies_data();
    void expediteursOublies();
    void plafond();
};

void TestDecodeurDatagrammes::expediteursOublies_data()
{
    QTest::addColumn<qint64>("silence");
    QTest::addColumn<bool>("perteSignalee");

    QTest::newRow("entendu il y a une heure") << heure << true;
    QTest::newRow("presque un jour") << 24 * heure - 1 << true;
    // Forgotten: its next datagram counts as its first.
    QTest::newRow("un jour") << 24 * heure << false;
}

void TestDecodeurDatagrammes::expediteursOublies()
{
    QFETCH(qint64, silence);
    QFETCH(bool, perteSignalee);

    DecodeurDatagrammes decodeur;
    decodeur.decoder(QStringLiteral("192.0.2.7"), DatagrammeRapport::ecrire(41, "{}"), 0);
    // Another sender heard meanwhile does not keep the first one alive.
    decodeur.decoder(QStringLiteral("192.0.2.8"), DatagrammeRapport::ecrire(1, "{}"), silence);

    const DecodeurDatagrammes::Datagramme datagramme =
        decodeur.decoder(QStringLiteral("192.0.2.7"), DatagrammeRapport::ecrire(45, "{}"), silence);
    QCOMPARE(datagramme.horsSequence, perteSignalee);
    QCOMPARE(datagramme.perdus, perteSignalee ? 3 : 0);
    QCOMPARE(datagramme.texte, QStringLiteral("{}"));
    QCOMPARE(decodeur.expediteurs(), 2);
}

void TestDecodeurDatagrammes::plafond()
{
    DecodeurDatagrammes decodeur(3);
    const auto adresse = [](int i) { return QStringLiteral("10.0.0.%1").arg(i); };
    for (int i = 1; i <= 3; ++i)
        decodeur.decoder(adresse(i), DatagrammeRapport::ecrire(10, QByteArray()), i);
    // Heard again, so the least recently heard is now 10.0.0.2.
    QVERIFY(!decodeur.decoder(adresse(1), DatagrammeRapport::ecrire(11, QByteArray()), 4).horsSequence);

    decodeur.decoder(adresse(4), DatagrammeRapport::ecrire(10, QByteArray()), 5);
    QCOMPARE(decodeur.expediteurs(), 3);
    QVERIFY(!decodeur.connait(adresse(2)));
    QVERIFY(decodeur.connait(adresse(1)));
    QVERIFY(decodeur.connait(adresse(3)));

    // A flood of forged addresses keeps the table at its cap.
    for (int i = 0; i < 1000; ++i)
        decodeur.decoder(QStringLiteral("198.51.100.%1/%2").arg(i % 256).arg(i), DatagrammeRapport::ecrire(1, QByteArray()), 6);
    QCOMPARE(decodeur.expediteurs(), 3);
    QVERIFY(!decodeur.decoder(adresse(1), DatagrammeRapport::ecrire(13, QByteArray()), 7).horsSequence);
}

QTEST_GUILESS_MAIN(TestDecodeurDatagrammes)
#include "tst_decodeurdatagrammes.moc"
