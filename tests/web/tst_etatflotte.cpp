// SPDX-License-Identifier: MIT
#include "ClesRapport.h"
#include "LecteurRapport.h"
#include "EtatFlotte.h"
#include "ExpositionMetriques.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <cmath>

namespace {

constexpr qint64 t0 = 1800000000000; // ms

RapportHyperviseur rapport(const QString &nom, double cpu, double time = 1800000000)
{
    RapportHyperviseur r;
    QString erreur;
    const QString texte = QStringLiteral("{\"name\":\"%1\",\"time\":%2,\"cpu\":%3,\"ram\":40,\"disk\":50,\"network\":8,"
                                         "\"cputemp\":55,\"vms\":[{\"name\":\"vm1\",\"uuid\":\"u1\",\"state\":1,\"cpu\":25,"
                                         "\"ram\":1024,\"maxram\":2048,\"network\":0.5}]}")
                              .arg(nom)
                              .arg(time, 0, 'f', 0)
                              .arg(cpu);
    if (!LecteurRapport::decoder(texte, r, &erreur))
        qFatal("%s", qPrintable(erreur));
    return r;
}

QJsonObject objet(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// The exposition parsed back: "name{labels}" -> value, and each family's type.
struct Metriques
{
    QHash<QString, double> valeurs;
    QHash<QString, QString> types;
};

Metriques analyser(const QByteArray &texte)
{
    static const QRegularExpression ligne(QStringLiteral("^([a-zA-Z_:][a-zA-Z0-9_:]*)(\\{.*\\})? (\\S+)$"));
    Metriques m;
    for (const QString &l : QString::fromUtf8(texte).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (l.startsWith(QLatin1String("# TYPE "))) {
            const QStringList parties = l.split(QLatin1Char(' '));
            m.types.insert(parties.value(2), parties.value(3));
            continue;
        }
        if (l.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch c = ligne.match(l);
        if (!c.hasMatch())
            qFatal("ligne illisible : %s", qPrintable(l));
        bool ok = false;
        m.valeurs.insert(c.captured(1) + c.captured(2), c.captured(3).toDouble(&ok));
        if (!ok)
            qFatal("valeur illisible : %s", qPrintable(l));
    }
    return m;
}

} // namespace

class TestEtatFlotte : public QObject
{
    Q_OBJECT

private slots:
    void decoder_data();
    void decoder();
    void decoderLatin1();
    void chaqueMesure_data();
    void chaqueMesure();
    void dernierEtFenetre();
    void silence();
    void coalescence();
    void prochainePublication();
    void unRapportParSeconde();
    void oubli();
    void metriques();
    void metriquesEtiquettes_data();
    void metriquesEtiquettes();
};

void TestEtatFlotte::decoder_data()
{
    QTest::addColumn<QString>("texte");
    QTest::addColumn<bool>("valide");
    QTest::addColumn<QString>("nom");
    QTest::addColumn<double>("cpu");
    QTest::addColumn<int>("vms");

    QTest::newRow("complet") << QStringLiteral("{\"name\":\"hv\",\"cpu\":12.5,\"vms\":[{\"name\":\"a\"},{\"name\":\"b\"}]}") << true
                             << QStringLiteral("hv") << 12.5 << 2;
    QTest::newRow("pas-json") << QStringLiteral("bonjour") << false << QString() << 0.0 << 0;
    QTest::newRow("vide") << QString() << false << QString() << 0.0 << 0;
    QTest::newRow("tableau") << QStringLiteral("[1,2]") << false << QString() << 0.0 << 0;
    QTest::newRow("nombre") << QStringLiteral("42") << false << QString() << 0.0 << 0;
    QTest::newRow("sans-nom") << QStringLiteral("{\"cpu\":1}") << false << QString() << 0.0 << 0;
    QTest::newRow("nom-nombre") << QStringLiteral("{\"name\":7}") << false << QString() << 0.0 << 0;
    QTest::newRow("nom-vide") << QStringLiteral("{\"name\":\"\"}") << false << QString() << 0.0 << 0;
    QTest::newRow("cpu-texte") << QStringLiteral("{\"name\":\"hv\",\"cpu\":\"12\"}") << true << QStringLiteral("hv")
                               << qQNaN() << 0;
    QTest::newRow("cpu-null") << QStringLiteral("{\"name\":\"hv\",\"cpu\":null}") << true << QStringLiteral("hv") << qQNaN() << 0;
    QTest::newRow("vms-objet") << QStringLiteral("{\"name\":\"hv\",\"vms\":{\"a\":1}}") << true << QStringLiteral("hv")
                               << qQNaN() << 0;
    QTest::newRow("vms-melange") << QStringLiteral("{\"name\":\"hv\",\"vms\":[1,\"x\",null,{},[2]]}") << true
                                 << QStringLiteral("hv") << qQNaN() << 1;
    QTest::newRow("tronque") << QStringLiteral("{\"name\":\"hv\",\"cpu\":1") << false << QString() << 0.0 << 0;
    QTest::newRow("cle-double") << QStringLiteral("{\"name\":\"a\",\"name\":\"b\",\"cpu\":3}") << true << QStringLiteral("b")
                                << 3.0 << 0;
}

void TestEtatFlotte::decoder()
{
    QFETCH(QString, texte);
    QFETCH(bool, valide);
    QFETCH(QString, nom);
    QFETCH(double, cpu);
    QFETCH(int, vms);

    RapportHyperviseur r;
    QString erreur;
    QCOMPARE(LecteurRapport::decoder(texte, r, &erreur), valide);
    QCOMPARE(erreur.isEmpty(), valide);
    if (!valide)
        return;
    QCOMPARE(r.nom, nom);
    QCOMPARE(std::isnan(r.cpu), std::isnan(cpu));
    if (!std::isnan(cpu))
        QCOMPARE(r.cpu, cpu);
    QCOMPARE(r.vms.size(), vms);
}

void TestEtatFlotte::decoderLatin1()
{
    // A frame's characters are the report's bytes: "é" as UTF-8 is two
    // Latin-1 characters, and a lone Latin-1 "é" byte is not UTF-8.
    RapportHyperviseur r;
    QVERIFY(LecteurRapport::decoder(QString::fromLatin1("{\"name\":\"h\xc3\xa9\"}"), r));
    QCOMPARE(r.nom, QStringLiteral("hé"));
    QVERIFY(LecteurRapport::decoder(QString::fromLatin1("{\"name\":\"h\xe9\"}"), r));
    QCOMPARE(r.nom, QStringLiteral("hé"));

    // A huge VM list is counted, not kept.
    QString texte = QStringLiteral("{\"name\":\"h\",\"vms\":[");
    for (int i = 0; i < LecteurRapport::vmsMaximum + 10; ++i)
        texte += QStringLiteral("{\"name\":\"v\"},");
    texte.chop(1);
    texte += QStringLiteral("]}");
    QVERIFY(LecteurRapport::decoder(texte, r));
    QCOMPARE(r.vms.size(), LecteurRapport::vmsMaximum);
    QCOMPARE(r.vmsIgnorees, 10);
}

void TestEtatFlotte::chaqueMesure_data()
{
    QTest::addColumn<bool>("vm");
    QTest::addColumn<QString>("cle");
    QTest::addColumn<QString>("famille");
    QTest::addColumn<double>("facteur");

    // What scrapers know each measure by, in its base unit.
    const QHash<QString, QPair<QString, double>> hyperviseur{
        {QStringLiteral("cpu"), {QStringLiteral("collecteur_hyperviseur_cpu_ratio"), 0.01}},
        {QStringLiteral("ram"), {QStringLiteral("collecteur_hyperviseur_ram_ratio"), 0.01}},
        {QStringLiteral("disk"), {QStringLiteral("collecteur_hyperviseur_disk_ratio"), 0.01}},
        {QStringLiteral("network"), {QStringLiteral("collecteur_hyperviseur_network_bytes_per_second"), 125000}},
        {QStringLiteral("cputemp"), {QStringLiteral("collecteur_hyperviseur_cputemp_celsius"), 1}},
        {QStringLiteral("mbtemp"), {QStringLiteral("collecteur_hyperviseur_mbtemp_celsius"), 1}},
    };
    const QHash<QString, QPair<QString, double>> vm{
        {QStringLiteral("state"), {QStringLiteral("collecteur_vm_state"), 1}},
        {QStringLiteral("cpu"), {QStringLiteral("collecteur_vm_cpu_ratio"), 0.01}},
        {QStringLiteral("ram"), {QStringLiteral("collecteur_vm_ram_bytes"), 1024}},
        {QStringLiteral("maxram"), {QStringLiteral("collecteur_vm_maxram_bytes"), 1024}},
        {QStringLiteral("network"), {QStringLiteral("collecteur_vm_network_bytes_per_second"), 125000}},
    };
    // Every measure the agents send, so that a new one cannot go unseen here.
    for (const QString &cle : ClesRapport::noms(ClesRapport::mesuresHyperviseur()))
        QTest::addRow("hyperviseur-%s", qPrintable(cle)) << false << cle << hyperviseur.value(cle).first << hyperviseur.value(cle).second;
    for (const QString &cle : ClesRapport::noms(ClesRapport::mesuresVM()))
        QTest::addRow("vm-%s", qPrintable(cle)) << true << cle << vm.value(cle).first << vm.value(cle).second;
}

void TestEtatFlotte::chaqueMesure()
{
    QFETCH(bool, vm);
    QFETCH(QString, cle);
    QFETCH(QString, famille);
    QFETCH(double, facteur);
    QVERIFY2(!famille.isEmpty(), qPrintable(QStringLiteral("aucune famille pour %1").arg(cle)));

    // The measure alone, so that a value read under another key shows.
    const QString mesure = QStringLiteral("\"%1\":3").arg(cle);
    const QString texte = vm ? QStringLiteral("{\"name\":\"hv\",\"vms\":[{\"name\":\"v\",\"uuid\":\"u\",%1}]}").arg(mesure)
                             : QStringLiteral("{\"name\":\"hv\",%1}").arg(mesure);
    RapportHyperviseur r;
    QVERIFY(LecteurRapport::decoder(texte, r));
    EtatFlotte flotte;
    flotte.ajouter(r, t0);

    const QJsonObject detail = objet(flotte.detail(QStringLiteral("hv"), t0));
    const QJsonObject lue = vm ? detail.value(QStringLiteral("vms")).toArray().first().toObject()
                               : detail.value(QStringLiteral("resume")).toObject();
    const QString clePage = cle == QLatin1String("state") ? QStringLiteral("etat") : cle;
    for (auto it = lue.constBegin(); it != lue.constEnd(); ++it) {
        if (it.value().isDouble() && it.key() != QLatin1String("recu") && it.key() != QLatin1String("intervalle")
            && it.key() != QLatin1String("vms") && it.key() != QLatin1String("vmsActives"))
            QVERIFY2(it.key() == clePage && it.value().toDouble() == 3, qPrintable(it.key()));
    }
    QCOMPARE(lue.value(clePage).toDouble(), 3.0);
    if (!vm)
        QCOMPARE(detail.value(QStringLiteral("fenetre")).toObject().value(cle).toArray(), QJsonArray{3.0});

    const QString prefixe = vm ? QStringLiteral("collecteur_vm_") : QStringLiteral("collecteur_hyperviseur_");
    const QString etiquettes = vm ? QStringLiteral("{hyperviseur=\"hv\",vm=\"v\",uuid=\"u\"}") : QStringLiteral("{hyperviseur=\"hv\"}");
    const Metriques m = analyser(ExpositionMetriques::texte(flotte, CompteursWeb(), t0));
    QStringList echantillons;
    for (auto it = m.valeurs.constBegin(); it != m.valeurs.constEnd(); ++it) {
        if (it.key().startsWith(prefixe) && !it.key().startsWith(QLatin1String("collecteur_hyperviseur_vms{")))
            echantillons << it.key();
    }
    QCOMPARE(echantillons, QStringList{famille + etiquettes});
    QCOMPARE(m.valeurs.value(famille + etiquettes), 3 * facteur);
    QCOMPARE(m.types.value(famille), QStringLiteral("gauge"));
}

void TestEtatFlotte::dernierEtFenetre()
{
    EtatFlotte flotte(60000);
    for (int i = 0; i < 10; ++i)
        flotte.ajouter(rapport(QStringLiteral("hv1"), i, 1800000000 + i * 10), t0 + i * 10000);

    const QJsonObject detail = objet(flotte.detail(QStringLiteral("hv1"), t0 + 90000));
    QCOMPARE(detail.value(QStringLiteral("resume")).toObject().value(QStringLiteral("cpu")).toDouble(), 9.0);
    // 60 s of window at one report per 10 s: the reports of 30 s to 90 s.
    const QJsonArray t = detail.value(QStringLiteral("fenetre")).toObject().value(QStringLiteral("t")).toArray();
    QCOMPARE(t.size(), 7);
    QCOMPARE(t.first().toDouble(), 1800000030.0);
    QCOMPARE(detail.value(QStringLiteral("fenetre")).toObject().value(QStringLiteral("cpu")).toArray().last().toDouble(), 9.0);
    QCOMPARE(detail.value(QStringLiteral("vms")).toArray().size(), 1);
    QVERIFY(flotte.detail(QStringLiteral("inconnu"), t0).isEmpty());

    // An agent whose clock is a year off is drawn at the reception time.
    flotte.ajouter(rapport(QStringLiteral("hv2"), 1, 1700000000), t0);
    const QJsonArray t2 =
        objet(flotte.detail(QStringLiteral("hv2"), t0)).value(QStringLiteral("fenetre")).toObject().value(QStringLiteral("t")).toArray();
    QCOMPARE(t2.first().toDouble(), double(t0) / 1000);
}

void TestEtatFlotte::silence()
{
    EtatFlotte flotte;
    flotte.ajouter(rapport(QStringLiteral("hv"), 1), t0);
    // One report: the agent's default 10 s is assumed.
    QVERIFY(!flotte.silencieux(flotte.hotes().value(QStringLiteral("hv")), t0 + 30000));
    QVERIFY(flotte.silencieux(flotte.hotes().value(QStringLiteral("hv")), t0 + 30001));
    // Then its own rhythm: every 2 s, silent after 6 s.
    for (int i = 1; i <= 8; ++i)
        flotte.ajouter(rapport(QStringLiteral("hv"), 1), t0 + i * 2000);
    const qint64 dernier = t0 + 16000;
    QVERIFY(!flotte.silencieux(flotte.hotes().value(QStringLiteral("hv")), dernier + 5000));
    QVERIFY(flotte.silencieux(flotte.hotes().value(QStringLiteral("hv")), dernier + 7000));
    const QJsonArray hotes = objet(flotte.instantane(dernier + 7000, true)).value(QStringLiteral("hotes")).toArray();
    QCOMPARE(hotes.size(), 1);
    QCOMPARE(hotes.first().toObject().value(QStringLiteral("silencieux")).toBool(), true);
}

void TestEtatFlotte::coalescence()
{
    EtatFlotte flotte;
    QVERIFY(flotte.publier(t0).maj.isEmpty());
    // Fifty reports of one host and one of another within a second: one
    // summary each, carrying the latest values.
    for (int i = 0; i < 50; ++i)
        flotte.ajouter(rapport(QStringLiteral("rapide"), i), t0 + i * 20);
    flotte.ajouter(rapport(QStringLiteral("lent"), 7), t0 + 500);
    const EtatFlotte::Publication publication = flotte.publier(t0 + 1000);
    const QJsonArray hotes = objet(publication.maj).value(QStringLiteral("hotes")).toArray();
    QCOMPARE(hotes.size(), 2);
    QMap<QString, double> cpu;
    for (const QJsonValue &h : hotes)
        cpu.insert(h.toObject().value(QStringLiteral("nom")).toString(), h.toObject().value(QStringLiteral("cpu")).toDouble());
    QCOMPARE(cpu.value(QStringLiteral("rapide")), 49.0);
    QCOMPARE(cpu.value(QStringLiteral("lent")), 7.0);
    QCOMPARE(publication.vms.size(), 2);
    QCOMPARE(objet(publication.vms.value(QStringLiteral("rapide"))).value(QStringLiteral("vms")).toArray().size(), 1);
    // A report just after a publication waits for its host's second to end.
    flotte.ajouter(rapport(QStringLiteral("rapide"), 50), t0 + 1100);
    QVERIFY(flotte.publier(t0 + 1200).maj.isEmpty());
    QVERIFY(flotte.publier(t0 + 1999).maj.isEmpty());
    QCOMPARE(objet(flotte.publier(t0 + 2000).maj).value(QStringLiteral("hotes")).toArray().size(), 1);
    // Nothing new, nothing sent.
    QVERIFY(flotte.publier(t0 + 3000).maj.isEmpty());
}

void TestEtatFlotte::prochainePublication()
{
    EtatFlotte flotte(60000);
    QCOMPARE(flotte.prochainePublication(), qint64(-1));
    // A host never published may go out at once.
    QVERIFY(flotte.ajouter(rapport(QStringLiteral("hv"), 1), t0) <= t0);
    QVERIFY(flotte.prochainePublication() <= t0);
    QCOMPARE(objet(flotte.publier(t0).maj).value(QStringLiteral("hotes")).toArray().size(), 1);
    // Then its next report waits for the end of its second, and no longer.
    QCOMPARE(flotte.ajouter(rapport(QStringLiteral("hv"), 2), t0 + 300), t0 + 1000);
    flotte.ajouter(rapport(QStringLiteral("autre"), 3), t0 + 400);
    QVERIFY(flotte.prochainePublication() <= t0 + 400);
    QCOMPARE(objet(flotte.publier(t0 + 400).maj).value(QStringLiteral("hotes")).toArray().size(), 1);
    QCOMPARE(flotte.prochainePublication(), t0 + 1000);
    QVERIFY(flotte.publier(t0 + 999).maj.isEmpty());
    QCOMPARE(objet(flotte.publier(t0 + 1000).maj).value(QStringLiteral("hotes")).toArray().size(), 1);
    // Nothing left to send: the next thing to do is forgetting the quieter host.
    QCOMPARE(flotte.prochainePublication(), t0 + 300 + 60000 + 1);
    flotte.publier(t0 + 60401);
    QVERIFY(flotte.hotes().isEmpty());
    QCOMPARE(flotte.prochainePublication(), qint64(-1));
}

void TestEtatFlotte::unRapportParSeconde()
{
    // A host that reports once a second, each summary going out 30 ms after
    // its report: none is held back, however many seconds go by.
    EtatFlotte flotte;
    for (int seconde = 0; seconde < 20; ++seconde) {
        const qint64 arrivee = t0 + 600 + seconde * 1000;
        QVERIFY2(flotte.ajouter(rapport(QStringLiteral("hv"), seconde), arrivee) <= arrivee, qPrintable(QString::number(seconde)));
        const QJsonArray hotes = objet(flotte.publier(arrivee + 30).maj).value(QStringLiteral("hotes")).toArray();
        QCOMPARE(hotes.size(), 1);
        QCOMPARE(hotes.first().toObject().value(QStringLiteral("cpu")).toDouble(), double(seconde));
    }
    // Two in the same second: the second one waits for the next.
    QCOMPARE(flotte.ajouter(rapport(QStringLiteral("hv"), 99), t0 + 19700), t0 + 20000);
    QVERIFY(flotte.publier(t0 + 19999).maj.isEmpty());
}

void TestEtatFlotte::oubli()
{
    EtatFlotte flotte(60000);
    flotte.ajouter(rapport(QStringLiteral("hv"), 1), t0);
    flotte.publier(t0);
    QVERIFY(flotte.publier(t0 + 60000).maj.isEmpty());
    const QJsonObject maj = objet(flotte.publier(t0 + 60001).maj);
    QCOMPARE(maj.value(QStringLiteral("oublies")).toArray(), QJsonArray{QStringLiteral("hv")});
    QVERIFY(flotte.hotes().isEmpty());
}

void TestEtatFlotte::metriques()
{
    EtatFlotte flotte;
    flotte.ajouter(rapport(QStringLiteral("hv1"), 42.5), t0);
    RapportHyperviseur sansTemperature;
    QVERIFY(LecteurRapport::decoder(QStringLiteral("{\"name\":\"hv2\",\"cpu\":1,\"vms\":[{\"name\":\"d\",\"uuid\":\"x\",\"state\":5},"
                                                    "{\"name\":\"d\",\"uuid\":\"x\",\"state\":1}]}"),
                                     sansTemperature));
    flotte.ajouter(sansTemperature, t0 + 1000);
    CompteursWeb compteurs;
    compteurs.connecte = true;
    compteurs.trames = 12;
    compteurs.invalides = 3;

    Metriques m = analyser(ExpositionMetriques::texte(flotte, compteurs, t0 + 1000));
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv1\"}")), 0.425);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_hyperviseur_network_bytes_per_second{hyperviseur=\"hv1\"}")), 1000000.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_hyperviseur_cputemp_celsius{hyperviseur=\"hv1\"}")), 55.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_vm_ram_bytes{hyperviseur=\"hv1\",vm=\"vm1\",uuid=\"u1\"}")), 1048576.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_vm_cpu_ratio{hyperviseur=\"hv1\",vm=\"vm1\",uuid=\"u1\"}")), 0.25);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_vm_state{hyperviseur=\"hv1\",vm=\"vm1\",uuid=\"u1\"}")), 1.0);
    // An absent key is no sample, never a 0; a VM listed twice is one series.
    QVERIFY(!m.valeurs.contains(QStringLiteral("collecteur_hyperviseur_cputemp_celsius{hyperviseur=\"hv2\"}")));
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_vm_state{hyperviseur=\"hv2\",vm=\"d\",uuid=\"x\"}")), 5.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_web_connecte")), 1.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_web_trames_total")), 12.0);
    QCOMPARE(m.valeurs.value(QStringLiteral("collecteur_web_rapports_invalides_total")), 3.0);
    QCOMPARE(m.types.value(QStringLiteral("collecteur_web_trames_total")), QStringLiteral("counter"));
    QCOMPARE(m.types.value(QStringLiteral("collecteur_vm_maxram_bytes")), QStringLiteral("gauge"));

    // Five minutes after its last report, hv1's series are gone; hv2's stay.
    m = analyser(ExpositionMetriques::texte(flotte, compteurs, t0 + ExpositionMetriques::expiration + 1));
    QVERIFY(!m.valeurs.contains(QStringLiteral("collecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv1\"}")));
    QVERIFY(m.valeurs.contains(QStringLiteral("collecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv2\"}")));
}

void TestEtatFlotte::metriquesEtiquettes_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<QByteArray>("etiquette");
    QTest::newRow("simple") << QStringLiteral("hv") << QByteArray("\"hv\"");
    QTest::newRow("guillemet") << QStringLiteral("a\"b") << QByteArray("\"a\\\"b\"");
    QTest::newRow("barre") << QStringLiteral("a\\b") << QByteArray("\"a\\\\b\"");
    QTest::newRow("saut") << QStringLiteral("a\nb") << QByteArray("\"a\\nb\"");
    QTest::newRow("accent") << QStringLiteral("hé") << QByteArray("\"h\xc3\xa9\"");
}

void TestEtatFlotte::metriquesEtiquettes()
{
    QFETCH(QString, nom);
    QFETCH(QByteArray, etiquette);
    QCOMPARE(ExpositionMetriques::etiquette(nom), etiquette);
    // A hostile name cannot add a line to the exposition.
    EtatFlotte flotte;
    flotte.ajouter(rapport(QStringLiteral("x"), 1), t0);
    RapportHyperviseur r = rapport(QStringLiteral("x"), 1);
    r.nom = nom + QStringLiteral("\ncollecteur_faux 1");
    flotte.ajouter(r, t0);
    const QByteArray texte = ExpositionMetriques::texte(flotte, CompteursWeb(), t0);
    QVERIFY(!texte.contains("\ncollecteur_faux"));
    analyser(texte);
}

QTEST_GUILESS_MAIN(TestEtatFlotte)
#include "tst_etatflotte.moc"
