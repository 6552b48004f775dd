// SPDX-License-Identifier: MIT
#include "HyperviseurSimule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QUuid>

#include <cmath>

namespace {

bool estEntier(const QJsonValue &valeur)
{
    return valeur.isDouble() && std::floor(valeur.toDouble()) == valeur.toDouble();
}

QJsonObject analyser(const QByteArray &texte)
{
    QJsonParseError erreur{};
    const QJsonDocument document = QJsonDocument::fromJson(texte, &erreur);
    if (erreur.error != QJsonParseError::NoError || !document.isObject())
        qWarning("%s: %s", qPrintable(erreur.errorString()), texte.constData());
    return document.object();
}

} // namespace

class TestHyperviseurSimule : public QObject
{
    Q_OBJECT

private slots:
    void datagramme_data();
    void datagramme();
    void rapport_data();
    void rapport();
    void nomsEtUuidsStables();
    void chargesContinuesEtBornees();
};

void TestHyperviseurSimule::datagramme_data()
{
    QTest::addColumn<quint32>("sequence");
    QTest::addColumn<QByteArray>("entete");

    QTest::newRow("1") << 1u << QByteArray::fromHex("00000001");
    QTest::newRow("42") << 42u << QByteArray::fromHex("0000002a");
    QTest::newRow("0x01020304") << 0x01020304u << QByteArray::fromHex("01020304");
    QTest::newRow("4294967294") << 4294967294u << QByteArray::fromHex("fffffffe");
}

void TestHyperviseurSimule::datagramme()
{
    QFETCH(quint32, sequence);
    QFETCH(QByteArray, entete);

    const HyperviseurSimule hyperviseur(0, 2);
    QByteArray tampon("restes d'un datagramme plus long que le suivant, qui ne doivent pas survivre");
    hyperviseur.ecrireDatagramme(tampon, sequence, 1309139574, 100.0);

    QCOMPARE(tampon.left(4), entete);
    QCOMPARE(tampon.mid(4), hyperviseur.rapport(1309139574, 100.0));
    QVERIFY(!tampon.mid(4).contains('\0'));
}

void TestHyperviseurSimule::rapport_data()
{
    QTest::addColumn<int>("indice");
    QTest::addColumn<int>("nombreVms");
    QTest::addColumn<QString>("nom");

    QTest::newRow("premier, sans VM") << 0 << 0 << QStringLiteral("hv-lab-01");
    QTest::newRow("troisieme, une VM") << 2 << 1 << QStringLiteral("hv-lab-03");
    QTest::newRow("douzieme, vingt VM") << 11 << 20 << QStringLiteral("hv-lab-12");
}

void TestHyperviseurSimule::rapport()
{
    QFETCH(int, indice);
    QFETCH(int, nombreVms);
    QFETCH(QString, nom);

    const HyperviseurSimule hyperviseur(indice, nombreVms);
    QCOMPARE(hyperviseur.nom(), nom);
    const QByteArray texte = hyperviseur.rapport(1796760214, 1796760214.25);
    const QJsonObject rapport = analyser(texte);

    QCOMPARE(rapport.value(QStringLiteral("name")).toString(), nom);
    QVERIFY(estEntier(rapport.value(QStringLiteral("time"))));
    QCOMPARE(qint64(rapport.value(QStringLiteral("time")).toDouble()), Q_INT64_C(1796760214));
    for (const char *cle : {"cputemp", "mbtemp", "cpu", "ram", "disk", "network"})
        QVERIFY2(rapport.value(QLatin1String(cle)).isDouble(), cle);

    const QJsonArray vms = rapport.value(QStringLiteral("vms")).toArray();
    QVERIFY(rapport.value(QStringLiteral("vms")).isArray());
    QCOMPARE(vms.size(), nombreVms);
    for (const QJsonValue &valeur : vms) {
        const QJsonObject vm = valeur.toObject();
        QCOMPARE(vm.keys().size(), 7);
        QVERIFY(vm.value(QStringLiteral("name")).toString().startsWith(QStringLiteral("vm-")));
        QVERIFY(!QUuid(vm.value(QStringLiteral("uuid")).toString()).isNull());
        QVERIFY(estEntier(vm.value(QStringLiteral("state"))));
        QVERIFY(QSet<int>({1, 3, 5}).contains(vm.value(QStringLiteral("state")).toInt()));
        QVERIFY(vm.value(QStringLiteral("cpu")).isDouble());
        QVERIFY(estEntier(vm.value(QStringLiteral("ram"))));
        QVERIFY(estEntier(vm.value(QStringLiteral("maxram"))));
        QVERIFY(vm.value(QStringLiteral("ram")).toDouble() <= vm.value(QStringLiteral("maxram")).toDouble());
        QVERIFY(vm.value(QStringLiteral("network")).isDouble());
    }

    // Integers are written as integers, since the store keeps them in INTEGER columns.
    QVERIFY(QRegularExpression(QStringLiteral("\"time\":1796760214,")).match(QString::fromLatin1(texte)).hasMatch());
    const QRegularExpression nonEntier(QStringLiteral("\"(state|ram|maxram)\":[0-9]*[.eE]"));
    const QString vmsTexte = QString::fromLatin1(texte.mid(texte.indexOf("\"vms\"")));
    QVERIFY2(!nonEntier.match(vmsTexte).hasMatch(), texte.constData());
}

void TestHyperviseurSimule::nomsEtUuidsStables()
{
    QCOMPARE(HyperviseurSimule(4, 6).uuidsVms(), HyperviseurSimule(4, 6).uuidsVms());
    QCOMPARE(HyperviseurSimule(4, 6).nomsVms(), HyperviseurSimule(4, 6).nomsVms());

    QSet<QString> noms;
    QSet<QString> uuids;
    for (int i = 0; i < 10; ++i) {
        const HyperviseurSimule hyperviseur(i, 12);
        for (const QString &n : hyperviseur.nomsVms())
            noms.insert(n);
        for (const QString &u : hyperviseur.uuidsVms())
            uuids.insert(u);
    }
    QCOMPARE(noms.size(), 120);
    QCOMPARE(uuids.size(), 120);
}

void TestHyperviseurSimule::chargesContinuesEtBornees()
{
    const HyperviseurSimule hyperviseur(3, 8);
    const QStringList cles{QStringLiteral("cpu"), QStringLiteral("ram"), QStringLiteral("cputemp")};
    QMap<QString, double> precedent;
    QMap<QString, double> minimum;
    QMap<QString, double> maximum;
    for (int seconde = 0; seconde < 3600; ++seconde) {
        const QJsonObject rapport = analyser(hyperviseur.rapport(1796760214 + seconde, seconde));
        for (const QString &cle : cles) {
            const double valeur = rapport.value(cle).toDouble();
            QVERIFY(valeur >= 0 && valeur <= 100);
            if (seconde > 0)
                QVERIFY2(std::abs(valeur - precedent.value(cle)) < 5, qPrintable(cle));
            precedent[cle] = valeur;
            minimum[cle] = seconde == 0 ? valeur : qMin(minimum.value(cle), valeur);
            maximum[cle] = seconde == 0 ? valeur : qMax(maximum.value(cle), valeur);
        }
    }
    for (const QString &cle : cles)
        QVERIFY2(maximum.value(cle) - minimum.value(cle) > 2, qPrintable(cle));
}

QTEST_GUILESS_MAIN(TestHyperviseurSimule)
#include "tst_hyperviseursimule.moc"
