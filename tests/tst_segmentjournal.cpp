// SPDX-License-Identifier: MIT
#include "SegmentJournal.h"

#include <QTest>

// The journal's record format, which the collector writes and reads back
// and the dashboard reads for the hour in progress.
class TestSegmentJournal : public QObject
{
    Q_OBJECT

private slots:
    void somme();
    void relecture_data();
    void relecture();
};

// Journals written before keep reading back: the checksum is qChecksum's,
// at every length and alignment the eight-byte steps can meet.
void TestSegmentJournal::somme()
{
    QCOMPARE(SegmentJournal::somme("123456789", 9), quint16(0x906e));
    QByteArray octets;
    for (int i = 0; i < 4096 + 17; ++i)
        octets += char((i * 7919 + (i >> 3)) & 0xff);
    for (int debut = 0; debut < 8; ++debut) {
        for (int taille = 0; taille < 300; ++taille)
            QCOMPARE(SegmentJournal::somme(octets.constData() + debut, taille),
                     qChecksum(octets.constData() + debut, uint(taille)));
    }
    QCOMPARE(SegmentJournal::somme(octets.constData(), octets.size()), qChecksum(octets.constData(), uint(octets.size())));
}

void TestSegmentJournal::relecture_data()
{
    QTest::addColumn<int>("coupure"); // bytes cut from the end, -1 for none
    QTest::addColumn<int>("octetAbime"); // from the end, -1 for none
    QTest::addColumn<bool>("verifier");
    QTest::addColumn<QStringList>("lus");

    const QStringList tous{QStringLiteral("{\"name\":\"a\"}"), QString(), QStringLiteral("{\"name\":\"\xe9t\xe9\"}")};
    QTest::newRow("entier") << -1 << -1 << true << tous;
    QTest::newRow("dernier coupé") << 1 << -1 << true << QStringList(tous.mid(0, 2));
    QTest::newRow("longueur coupée") << int(tous.last().size()) + 3 << -1 << true << QStringList(tous.mid(0, 2));
    QTest::newRow("dernier abîmé") << -1 << 2 << true << QStringList(tous.mid(0, 2));
    // Unchecked, a damaged record's bytes come back as they are.
    QTest::newRow("abîmé non vérifié") << -1 << 2 << false << QStringList{tous.at(0), tous.at(1), QStringLiteral("{\"name\":\"\xe9t\xe9]}")};
}

void TestSegmentJournal::relecture()
{
    QFETCH(int, coupure);
    QFETCH(int, octetAbime);
    QFETCH(bool, verifier);
    QFETCH(QStringList, lus);

    QByteArray segment = SegmentJournal::entete();
    for (const QString &rapport : {QStringLiteral("{\"name\":\"a\"}"), QString(), QStringLiteral("{\"name\":\"\xe9t\xe9\"}")}) {
        const QByteArray octets = rapport.toLatin1();
        SegmentJournal::ajouter(segment, octets.constData(), octets.size());
    }
    if (coupure > 0)
        segment.chop(coupure);
    if (octetAbime > 0)
        segment[segment.size() - octetAbime] = ']';

    QVERIFY(SegmentJournal::estSegment(segment.constData(), segment.size()));
    QVERIFY(!SegmentJournal::estSegment("CJRNL00", 7));
    qsizetype position = SegmentJournal::entete().size();
    SegmentJournal::Enregistrement enregistrement;
    QStringList resultat;
    while (SegmentJournal::suivant(segment.constData(), segment.size(), position, enregistrement, verifier))
        resultat.append(QString::fromLatin1(enregistrement.octets, int(enregistrement.taille)));
    QCOMPARE(resultat, lus);
}

QTEST_GUILESS_MAIN(TestSegmentJournal)
#include "tst_segmentjournal.moc"
