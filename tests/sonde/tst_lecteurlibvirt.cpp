// SPDX-License-Identifier: MIT
#include "LecteurLibvirt.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A test-driver node: a running domain with two interfaces (which the driver
// names testnet0 and testnet1, as qemu names its taps), a stopped one,
// and one whose name is not ASCII.
const char *const noeud = R"(<node>
  <domain type='test'>
    <name>web-01</name>
    <uuid>00000000-0000-4000-8000-000000000001</uuid>
    <memory unit='KiB'>4194304</memory>
    <currentMemory unit='KiB'>1048576</currentMemory>
    <vcpu>4</vcpu>
    <os><type>hvm</type></os>
    <devices>
      <interface type='ethernet'><target dev='vnet1'/></interface>
      <interface type='ethernet'><target dev='vnet2'/></interface>
    </devices>
  </domain>
  <domain type='test' xmlns:test='http://libvirt.org/schemas/domain/test/1.0'>
    <name>arret</name>
    <uuid>00000000-0000-4000-8000-000000000002</uuid>
    <memory unit='KiB'>2097152</memory>
    <vcpu>1</vcpu>
    <os><type>hvm</type></os>
    <devices><interface type='ethernet'><target dev='vnet3'/></interface></devices>
    <test:runstate>5</test:runstate>
  </domain>
  <domain type='test'>
    <name>caf&#233;</name>
    <uuid>00000000-0000-4000-8000-000000000003</uuid>
    <memory unit='KiB'>1024</memory>
    <vcpu>1</vcpu>
    <os><type>hvm</type></os>
  </domain>
</node>
)";

QString decrire(const EchantillonDomaine &d)
{
    QStringList interfaces = d.octetsInterfaces ? d.octetsInterfaces->keys() : QStringList{QStringLiteral("illisibles")};
    interfaces.sort();
    return QStringLiteral("%1 %2 état %3 vcpus %4 ram %5/%6 cpu %7 interfaces %8")
        .arg(d.nom, d.uuid)
        .arg(d.etat)
        .arg(d.vcpus)
        .arg(d.ramKio)
        .arg(d.maxramKio)
        .arg(d.tempsCpuNs ? QStringLiteral("lu") : QStringLiteral("-"), interfaces.join(QLatin1Char(',')));
}

} // namespace

class TestLecteurLibvirt : public QObject
{
    Q_OBJECT

private slots:
    void domaines_data();
    void domaines();
    void reconnexion();
};

void TestLecteurLibvirt::domaines_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("attendus");

    QTest::newRow("test:///default") << QByteArray()
                                     << QStringList{QStringLiteral("test 6695eb01-f6a4-8304-79aa-97f2502e193f état 1 "
                                                                   "vcpus 2 ram 2097152/8388608 cpu lu interfaces testnet0")};
    QTest::newRow("noeud de plusieurs domaines")
        << QByteArray(noeud)
        << QStringList{QStringLiteral("web-01 00000000-0000-4000-8000-000000000001 état 1 vcpus 4 ram 1048576/4194304 "
                                      "cpu lu interfaces testnet0,testnet1"),
                       QStringLiteral("arret 00000000-0000-4000-8000-000000000002 état 5 vcpus 1 ram 2097152/2097152 "
                                      "cpu lu interfaces illisibles"),
                       QStringLiteral("café 00000000-0000-4000-8000-000000000003 état 1 vcpus 1 ram 1024/1024 "
                                      "cpu lu interfaces ")};
}

void TestLecteurLibvirt::domaines()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, attendus);

    QTemporaryDir dossier;
    QString uri = QStringLiteral("test:///default");
    if (!xml.isEmpty()) {
        QFile fichier(dossier.filePath(QStringLiteral("noeud.xml")));
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        fichier.write(xml);
        fichier.close();
        uri = QStringLiteral("test://") + fichier.fileName();
    }
    LecteurLibvirt lecteur(uri);
    // Twice: the second reading takes the interface names from the first.
    for (int lecture = 0; lecture < 2; ++lecture) {
        const EchantillonVms echantillon = lecteur.lire();
        QVERIFY2(echantillon.lu, qPrintable(lecteur.erreur()));
        QStringList obtenus;
        for (const EchantillonDomaine &d : echantillon.domaines)
            obtenus << decrire(d);
        obtenus.sort();
        attendus.sort();
        QCOMPARE(obtenus, attendus);
    }
}

void TestLecteurLibvirt::reconnexion()
{
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(QStringLiteral("noeud.xml"));
    LecteurLibvirt lecteur(QStringLiteral("test://") + chemin);

    EchantillonVms echantillon = lecteur.lire();
    QVERIFY(!echantillon.lu);
    QVERIFY(!lecteur.connecte());
    QVERIFY(!lecteur.connexionPerdue());
    QVERIFY2(lecteur.erreur().contains(chemin), qPrintable(lecteur.erreur()));

    QFile fichier(chemin);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(noeud);
    fichier.close();
    echantillon = lecteur.lire();
    QVERIFY2(echantillon.lu, qPrintable(lecteur.erreur()));
    QCOMPARE(echantillon.domaines.size(), 3);
    QVERIFY(lecteur.erreur().isEmpty());
}

QTEST_GUILESS_MAIN(TestLecteurLibvirt)
#include "tst_lecteurlibvirt.moc"
