// SPDX-License-Identifier: MIT
#include "RapportSonde.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

#include <libvirt/libvirt.h>

Q_DECLARE_METATYPE(MesuresHote)
Q_DECLARE_METATYPE(EchantillonDomaine)

namespace {

MesuresHote hoteComplet()
{
    MesuresHote hote;
    hote.cpu = 25.8;
    hote.ram = 62.5;
    hote.disk = 17.0;
    hote.network = 20.0;
    hote.cputemp = 64.5;
    hote.mbtemp = 27.8;
    return hote;
}

MesuresVm vm(int numero)
{
    MesuresVm mesures;
    mesures.nom = QStringLiteral("vm-%1").arg(numero, 3, 10, QLatin1Char('0'));
    mesures.uuid = QStringLiteral("00000000-0000-4000-8000-%1").arg(numero, 12, 10, QLatin1Char('0'));
    mesures.etat = 1;
    mesures.cpu = 12.5;
    mesures.ram = 524288;
    mesures.maxram = 1048576;
    mesures.network = 1.5;
    return mesures;
}

EchantillonDomaine domaine(qint64 instantMs, quint64 tempsCpuNs, int etat, QHash<QString, quint64> interfaces)
{
    EchantillonDomaine d;
    d.nom = QStringLiteral("web");
    d.uuid = QStringLiteral("6695eb01-f6a4-8304-79aa-97f2502e193f");
    d.etat = etat;
    d.instantMs = instantMs;
    d.tempsCpuNs = tempsCpuNs;
    d.vcpus = 4;
    d.ramKio = 2097152;
    d.maxramKio = 8388608;
    d.octetsInterfaces = interfaces;
    return d;
}

} // namespace

class TestRapportSonde : public QObject
{
    Q_OBJECT

private slots:
    void texte_data();
    void texte();
    void repartition_data();
    void repartition();
    void mesuresVm_data();
    void mesuresVm();
};

void TestRapportSonde::texte_data()
{
    QTest::addColumn<MesuresHote>("hote");
    QTest::addColumn<bool>("avecVms");
    QTest::addColumn<QByteArray>("attendu");

    QTest::newRow("complet")
        << hoteComplet() << true
        << QByteArray(R"({"name":"hv-1","time":1700000000,"cputemp":64.5,"mbtemp":27.8,"cpu":25.8,"ram":62.5,"disk":17.0,)"
                      R"("network":20.00,"vms":[{"name":"vm-001","uuid":"00000000-0000-4000-8000-000000000001","state":1,)"
                      R"("cpu":12.5,"ram":524288,"maxram":1048576,"network":1.50}]})");
    MesuresHote sansCapteur = hoteComplet();
    sansCapteur.cputemp.reset();
    sansCapteur.mbtemp.reset();
    QTest::newRow("sans capteur ni libvirt")
        << sansCapteur << false
        << QByteArray(R"({"name":"hv-1","time":1700000000,"cpu":25.8,"ram":62.5,"disk":17.0,"network":20.00})");
}

void TestRapportSonde::texte()
{
    QFETCH(MesuresHote, hote);
    QFETCH(bool, avecVms);
    QFETCH(QByteArray, attendu);

    const auto rapports = RapportSonde::ecrire(QStringLiteral("hv-1"), 1700000000, hote,
                                               avecVms ? std::optional<QVector<MesuresVm>>({vm(1)}) : std::nullopt);
    QCOMPARE(rapports, QVector<QByteArray>{attendu});
}

void TestRapportSonde::repartition_data()
{
    QTest::addColumn<int>("vms");
    QTest::addColumn<int>("taille");
    QTest::addColumn<int>("rapports");

    QTest::newRow("aucune VM") << 0 << RapportSonde::tailleMaximale << 1;
    QTest::newRow("tout tient") << 300 << RapportSonde::tailleMaximale << 1;
    QTest::newRow("plus d'un datagramme") << 1200 << RapportSonde::tailleMaximale << 3;
    QTest::newRow("une VM par rapport") << 5 << 300 << 6;
}

void TestRapportSonde::repartition()
{
    QFETCH(int, vms);
    QFETCH(int, taille);
    QFETCH(int, rapports);

    QVector<MesuresVm> liste;
    for (int i = 0; i < vms; ++i)
        liste.append(vm(i));
    MesuresVm accents = vm(vms);
    accents.nom = QStringLiteral("café \"ß\" \\ \U0001F600");
    liste.append(accents);

    const auto textes = RapportSonde::ecrire(QStringLiteral("hv-1"), 1700000000, hoteComplet(), liste, taille);
    QCOMPARE(textes.size(), rapports);
    QStringList noms;
    for (const QByteArray &texte : textes) {
        QVERIFY2(texte.size() <= taille, texte.left(200).constData());
        for (const char c : texte)
            QVERIFY2(uchar(c) >= 0x20 && uchar(c) < 0x7f, texte.left(200).constData());
        QJsonParseError erreur{};
        const QJsonObject rapport = QJsonDocument::fromJson(texte, &erreur).object();
        QVERIFY2(erreur.error == QJsonParseError::NoError, qPrintable(erreur.errorString()));
        // Each part is a whole report of the same host and instant.
        QCOMPARE(rapport.value(QStringLiteral("name")).toString(), QStringLiteral("hv-1"));
        QCOMPARE(rapport.value(QStringLiteral("time")).toInt(), 1700000000);
        QCOMPARE(rapport.value(QStringLiteral("cpu")).toDouble(), 25.8);
        QVERIFY(!rapport.value(QStringLiteral("vms")).toArray().isEmpty());
        for (const QJsonValue &v : rapport.value(QStringLiteral("vms")).toArray())
            noms << v.toObject().value(QStringLiteral("name")).toString();
    }
    QStringList attendus;
    for (const MesuresVm &mesures : liste)
        attendus << mesures.nom;
    QCOMPARE(noms, attendus);
}

void TestRapportSonde::mesuresVm_data()
{
    using Interfaces = QHash<QString, quint64>;
    QTest::addColumn<EchantillonDomaine>("avant");
    QTest::addColumn<EchantillonDomaine>("apres");
    QTest::addColumn<QString>("attendu");

    const Interfaces avant{{QStringLiteral("vnet0"), 1000000}, {QStringLiteral("vnet1"), 5000000}};
    // 20 s of CPU on 4 vCPUs over 10 s: 50 %; 2.5 MB + 0 over 10 s: 2 Mbit/s.
    QTest::newRow("en marche")
        << domaine(0, 100000000000, VIR_DOMAIN_RUNNING, avant)
        << domaine(10000, 120000000000, VIR_DOMAIN_RUNNING,
                   {{QStringLiteral("vnet0"), 3500000}, {QStringLiteral("vnet1"), 5000000}, {QStringLiteral("vnet2"), 99}})
        << QStringLiteral("state 1 cpu 50.0 ram 2097152 maxram 8388608 network 2.00");
    QTest::newRow("au-delà des vCPU, compteurs remis à zéro")
        << domaine(0, 100000000000, VIR_DOMAIN_RUNNING, avant)
        << domaine(1000, 200000000000, VIR_DOMAIN_RUNNING, {{QStringLiteral("vnet0"), 10}, {QStringLiteral("vnet1"), 10}})
        << QStringLiteral("state 1 cpu 100.0 ram 2097152 maxram 8388608 network 0.00");
    QTest::newRow("temps CPU en recul")
        << domaine(0, 100000000000, VIR_DOMAIN_PAUSED, avant) << domaine(10000, 5, VIR_DOMAIN_PAUSED, avant)
        << QStringLiteral("state 3 cpu 0.0 ram 2097152 maxram 8388608 network 0.00");
    QTest::newRow("arrêtée") << domaine(0, 100000000000, VIR_DOMAIN_RUNNING, avant)
                             << domaine(10000, 9999999999999, VIR_DOMAIN_SHUTOFF, {})
                             << QStringLiteral("state 5 cpu 0.0 ram 0 maxram 8388608 network 0.00");
    EchantillonDomaine sansInterfaces = domaine(10000, 110000000000, VIR_DOMAIN_RUNNING, {});
    sansInterfaces.octetsInterfaces.reset();
    QTest::newRow("interfaces illisibles") << domaine(0, 100000000000, VIR_DOMAIN_RUNNING, avant) << sansInterfaces
                                           << QStringLiteral("state 1 cpu 25.0 ram 2097152 maxram 8388608 network -");
    QTest::newRow("première lecture") << EchantillonDomaine() << domaine(0, 1, VIR_DOMAIN_RUNNING, avant)
                                      << QStringLiteral("state 1 cpu - ram 2097152 maxram 8388608 network -");
}

void TestRapportSonde::mesuresVm()
{
    QFETCH(EchantillonDomaine, avant);
    QFETCH(EchantillonDomaine, apres);
    QFETCH(QString, attendu);

    const MesuresVm m = MesuresVm::calculer(avant.nom.isEmpty() ? nullptr : &avant, apres);
    const auto texte = [](const std::optional<double> &v, int decimales) {
        return v ? QString::number(*v, 'f', decimales) : QStringLiteral("-");
    };
    QCOMPARE(m.nom, apres.nom);
    QCOMPARE(m.uuid, apres.uuid);
    QCOMPARE(QStringLiteral("state %1 cpu %2 ram %3 maxram %4 network %5")
                 .arg(m.etat)
                 .arg(texte(m.cpu, 1))
                 .arg(m.ram)
                 .arg(m.maxram)
                 .arg(texte(m.network, 2)),
             attendu);
}

QTEST_GUILESS_MAIN(TestRapportSonde)
#include "tst_rapportsonde.moc"
