// SPDX-License-Identifier: MIT
#include "Sequenceur.h"

#include <QTest>

class TestSequenceur : public QObject
{
    Q_OBJECT

private slots:
    void suivant_data();
    void suivant();
    void premierNumero_data();
    void premierNumero();
};

void TestSequenceur::suivant_data()
{
    QTest::addColumn<int>("trou");
    QTest::addColumn<int>("repetition");
    QTest::addColumn<int>("inversion");
    QTest::addColumn<QVector<quint32>>("attendus");

    QTest::newRow("sans defaut") << 0 << 0 << 0 << QVector<quint32>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("trou tous les 3") << 3 << 0 << 0 << QVector<quint32>{1, 2, 4, 5, 6, 8, 9, 10, 12, 13};
    QTest::newRow("repetition tous les 3") << 0 << 3 << 0 << QVector<quint32>{1, 2, 3, 3, 4, 5, 6, 6, 7, 8};
    QTest::newRow("inversion tous les 3") << 0 << 0 << 3 << QVector<quint32>{1, 2, 4, 3, 5, 7, 6, 8, 10, 9};
    QTest::newRow("inversion a chaque fois") << 0 << 0 << 1 << QVector<quint32>{2, 1, 4, 3, 6, 5, 8, 7, 10, 9};
    QTest::newRow("repetition a chaque fois") << 0 << 1 << 0 << QVector<quint32>{1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    // The repeat stays with its number when that number is swapped.
    QTest::newRow("trou, repetition et inversion") << 3 << 4 << 5 << QVector<quint32>{1, 2, 4, 5, 5, 8, 6, 9, 10, 10};
}

void TestSequenceur::suivant()
{
    QFETCH(int, trou);
    QFETCH(int, repetition);
    QFETCH(int, inversion);
    QFETCH(QVector<quint32>, attendus);

    Sequenceur sequenceur(1, trou, repetition, inversion);
    QVector<quint32> obtenus;
    for (int i = 0; i < attendus.size(); ++i)
        obtenus.append(sequenceur.suivant());
    QCOMPARE(obtenus, attendus);
}

void TestSequenceur::premierNumero_data()
{
    QTest::addColumn<quint32>("premier");
    QTest::addColumn<QVector<quint32>>("attendus");
    QTest::newRow("agent reel, depuis 0") << quint32(0) << QVector<quint32>{0, 1, 2, 3};
    QTest::newRow("bouclage modulo 2^32") << quint32(4294967294u) << QVector<quint32>{4294967294u, 4294967295u, 0, 1};
}

void TestSequenceur::premierNumero()
{
    QFETCH(quint32, premier);
    QFETCH(QVector<quint32>, attendus);
    Sequenceur sequenceur(premier);
    QVector<quint32> obtenus;
    for (int i = 0; i < attendus.size(); ++i)
        obtenus.append(sequenceur.suivant());
    QCOMPARE(obtenus, attendus);
}

QTEST_GUILESS_MAIN(TestSequenceur)
#include "tst_sequenceur.moc"
