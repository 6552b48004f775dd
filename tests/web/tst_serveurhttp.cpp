// SPDX-License-Identifier: MIT
#include "ApplicationWeb.h"
#include "ClesRapport.h"
#include "ClientHttp.h"
#include "ServeurHttp.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>

class TestServeurHttp : public QObject
{
    Q_OBJECT

private slots:
    void fichiersEtLimites_data();
    void fichiersEtLimites();
    void enTetesTropNombreux();
    void mesuresDeLaPage_data();
    void mesuresDeLaPage();
    void routes();
    void fluxCoalescence();
    void fluxSansAttente();
    void pageBloquee();
    void centPages();
};

namespace {

ParametresWeb parametres(quint16 portCollecteur)
{
    ParametresWeb p;
    p.portCollecteur = portCollecteur;
    p.portEcoute = 0;
    p.sauvegardes = QStringLiteral("/nonexistent");
    return p;
}

QString rapport(const QString &nom, int cpu)
{
    return QStringLiteral("{\"name\":\"%1\",\"time\":%2,\"cpu\":%3,\"vms\":[{\"name\":\"<img src=x>\",\"state\":1}]}")
        .arg(nom)
        .arg(QDateTime::currentSecsSinceEpoch())
        .arg(cpu);
}

} // namespace

void TestServeurHttp::fichiersEtLimites_data()
{
    QTest::addColumn<QByteArray>("methode");
    QTest::addColumn<QByteArray>("chemin");
    QTest::addColumn<int>("statut");
    QTest::addColumn<QByteArray>("type");

    QTest::newRow("racine") << QByteArray("GET") << QByteArray("/") << 200 << QByteArray("text/html; charset=utf-8");
    QTest::newRow("script") << QByteArray("GET") << QByteArray("/app.js") << 200 << QByteArray("text/javascript; charset=utf-8");
    QTest::newRow("script-alertes") << QByteArray("GET") << QByteArray("/alertes.js") << 200
                                    << QByteArray("text/javascript; charset=utf-8");
    QTest::newRow("uplot") << QByteArray("GET") << QByteArray("/vendor/uplot/uPlot.iife.min.js") << 200
                           << QByteArray("text/javascript; charset=utf-8");
    QTest::newRow("icone") << QByteArray("GET") << QByteArray("/favicon.svg") << 200 << QByteArray("image/svg+xml");
    QTest::newRow("icone-ico") << QByteArray("GET") << QByteArray("/favicon.ico") << 200 << QByteArray("image/svg+xml");
    QTest::newRow("tete") << QByteArray("HEAD") << QByteArray("/style.css") << 200 << QByteArray("text/css; charset=utf-8");
    QTest::newRow("post") << QByteArray("POST") << QByteArray("/") << 405 << QByteArray("text/plain; charset=utf-8");
    QTest::newRow("delete") << QByteArray("DELETE") << QByteArray("/metrics") << 405 << QByteArray("text/plain; charset=utf-8");
    QTest::newRow("remontee") << QByteArray("GET") << QByteArray("/../../etc/passwd") << 404 << QByteArray("text/plain; charset=utf-8");
    QTest::newRow("remontee-encodee") << QByteArray("GET") << QByteArray("/%2e%2e/web/main.cpp") << 404
                                      << QByteArray("text/plain; charset=utf-8");
    QTest::newRow("source") << QByteArray("GET") << QByteArray("/page.qrc") << 404 << QByteArray("text/plain; charset=utf-8");
}

void TestServeurHttp::fichiersEtLimites()
{
    QFETCH(QByteArray, methode);
    QFETCH(QByteArray, chemin);
    QFETCH(int, statut);
    QFETCH(QByteArray, type);

    ServeurHttp serveur;
    QVERIFY(serveur.demarrer(QHostAddress::LocalHost, 0));
    const ReponseBrute reponse = obtenir(serveur.port(), chemin, methode);
    QCOMPARE(reponse.statut, statut);
    QCOMPARE(reponse.entete("Content-Type"), type);
    QCOMPARE(reponse.entete("Content-Security-Policy"), QByteArray(ServeurHttp::politiqueContenu));
    QVERIFY(!reponse.entete("Content-Security-Policy").contains("unsafe-inline"));
    QCOMPARE(reponse.entete("X-Content-Type-Options"), QByteArray("nosniff"));
    if (statut == 405)
        QCOMPARE(reponse.entete("Allow"), QByteArray("GET, HEAD"));
    if (chemin == "/" && methode == "GET") {
        QFile source(QStringLiteral(PAGE_SOURCE "/index.html"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(reponse.corps, source.readAll());
    }
    if (type == "image/svg+xml") {
        QFile source(QStringLiteral(PAGE_SOURCE "/favicon.svg"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(reponse.corps, source.readAll());
    }
    if (methode == "HEAD")
        QVERIFY(reponse.corps.isEmpty());
}

void TestServeurHttp::enTetesTropNombreux()
{
    ServeurHttp serveur;
    QVERIFY(serveur.demarrer(QHostAddress::LocalHost, 0));
    QByteArray requete = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
    for (int i = 0; i < ServeurHttp::entetesMaximum; ++i)
        requete += "X-" + QByteArray::number(i) + ": 1\r\n";
    QCOMPARE(echanger(serveur.port(), requete + "\r\n").statut, 431);
    // Beyond the connection's memory, libmicrohttpd refuses on its own.
    const QByteArray longue = "GET /" + QByteArray(int(ServeurHttp::memoireConnexion), 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n";
    const int statut = echanger(serveur.port(), longue).statut;
    QVERIFY2(statut == 414 || statut == 431, qPrintable(QString::number(statut)));
}

void TestServeurHttp::mesuresDeLaPage_data()
{
    QTest::addColumn<QString>("liste");
    QTest::addColumn<QStringList>("rapport");

    QStringList hyperviseur;
    for (const ClesRapport::Cle &cle : ClesRapport::mesuresHyperviseur())
        hyperviseur << cle.nom + QLatin1Char(' ') + ClesRapport::symbole(cle.unite);
    QStringList vm;
    for (const ClesRapport::Cle &cle : ClesRapport::mesuresVM())
        vm << cle.nom + QLatin1Char(' ') + ClesRapport::symbole(cle.unite);
    QTest::newRow("hyperviseur") << QStringLiteral("mesuresHyperviseur") << hyperviseur;
    QTest::newRow("vm") << QStringLiteral("mesuresVM") << vm;
}

void TestServeurHttp::mesuresDeLaPage()
{
    QFETCH(QString, liste);
    QFETCH(QStringList, rapport);

    // The page keeps its own copy of the measures' keys and units, in plain
    // JavaScript: the copy it is served must be the report's.
    ServeurHttp serveur;
    QVERIFY(serveur.demarrer(QHostAddress::LocalHost, 0));
    const QString script = QString::fromUtf8(obtenir(serveur.port(), "/app.js").corps);
    const QRegularExpression motif(QStringLiteral("\\nconst %1 = (\\[.*?\\]);\\n").arg(liste),
                                   QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch trouvee = motif.match(script);
    QVERIFY2(trouvee.hasMatch(), qPrintable(QStringLiteral("app.js : %1 introuvable").arg(liste)));
    QJsonParseError erreur;
    const QJsonArray mesures = QJsonDocument::fromJson(trouvee.captured(1).toUtf8(), &erreur).array();
    QVERIFY2(erreur.error == QJsonParseError::NoError, qPrintable(erreur.errorString()));

    QStringList page;
    for (const QJsonValue &mesure : mesures)
        page << mesure.toArray().at(0).toString() + QLatin1Char(' ') + mesure.toArray().at(1).toString();
    QCOMPARE(page, rapport);
}

void TestServeurHttp::routes()
{
    ApplicationWeb web(parametres(1));
    QVERIFY(web.demarrer());
    const quint16 port = web.serveur().port();
    web.recevoir(rapport(QStringLiteral("hv-a"), 33));
    web.recevoir(QStringLiteral("pas du json"));

    const QJsonObject flotte = QJsonDocument::fromJson(obtenir(port, "/api/flotte").corps).object();
    QCOMPARE(flotte.value(QStringLiteral("connecte")).toBool(), false);
    QCOMPARE(flotte.value(QStringLiteral("hotes")).toArray().first().toObject().value(QStringLiteral("cpu")).toDouble(), 33.0);

    const ReponseBrute detail = obtenir(port, "/api/hyperviseur?nom=hv-a");
    QCOMPARE(detail.statut, 200);
    QCOMPARE(QJsonDocument::fromJson(detail.corps).object().value(QStringLiteral("vms")).toArray().first().toObject().value(
                 QStringLiteral("nom")),
             QJsonValue(QStringLiteral("<img src=x>")));
    QCOMPARE(obtenir(port, "/api/hyperviseur?nom=inconnu").statut, 404);

    const ReponseBrute metriques = obtenir(port, "/metrics");
    QCOMPARE(metriques.entete("Content-Type"), QByteArray("text/plain; version=0.0.4; charset=utf-8"));
    QVERIFY(metriques.corps.contains("\ncollecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv-a\"} 0.33\n"));
    QVERIFY(metriques.corps.contains("\ncollecteur_web_rapports_invalides_total 1\n"));
    QVERIFY(metriques.corps.contains("\ncollecteur_web_connecte 0\n"));

    QCOMPARE(obtenir(port, "/api/historique?hyperviseur=hv-a").statut, 400);
    QCOMPARE(obtenir(port, "/api/historique?hyperviseur=hv-a&depuis=10&jusqua=5").statut, 400);
    const ReponseBrute historique = obtenir(port, "/api/historique?hyperviseur=hv-a&depuis=0&jusqua=3600");
    QCOMPARE(historique.statut, 200);
    QCOMPARE(QJsonDocument::fromJson(historique.corps).object().value(QStringLiteral("fichiers")).toInt(), 0);
}

void TestServeurHttp::fluxCoalescence()
{
    ApplicationWeb web(parametres(1));
    QVERIFY(web.demarrer());
    QTcpSocket page;
    page.connectToHost(QHostAddress::LocalHost, web.serveur().port());
    page.write("GET /api/flux?hyperviseur=hv-b HTTP/1.1\r\nHost: x\r\n\r\n");
    QByteArray recu;
    QTRY_VERIFY((recu += page.readAll()).contains("event: instantane"));
    QVERIFY(recu.contains("Content-Type: text/event-stream"));
    QCOMPARE(web.serveur().pages(), 1);

    // Thirty reports within the same publication: one summary, the latest.
    recu.clear();
    for (int i = 0; i < 30; ++i)
        web.recevoir(rapport(QStringLiteral("hv-b"), i));
    web.recevoir(rapport(QStringLiteral("hv-c"), 5));
    web.publier();
    QTRY_VERIFY((recu += page.readAll()).contains("event: vms"));
    QCOMPARE(recu.count("event: maj"), 1);
    QCOMPARE(recu.count("\"nom\":\"hv-b\""), 2); // its summary and its VM list
    QVERIFY(recu.contains("\"cpu\":29"));
    // The VM lists of other hosts go to the pages that show them only.
    QVERIFY(!recu.contains("{\"nom\":\"hv-c\",\"vms\""));
    web.publier();
    QTest::qWait(200);
    QVERIFY(!page.readAll().contains("event:"));
}

void TestServeurHttp::fluxSansAttente()
{
    ApplicationWeb web(parametres(1));
    QVERIFY(web.demarrer());
    QTcpSocket page;
    page.connectToHost(QHostAddress::LocalHost, web.serveur().port());
    page.write("GET /api/flux HTTP/1.1\r\nHost: x\r\n\r\n");
    QByteArray recu;
    QTRY_VERIFY((recu += page.readAll()).contains("event: instantane"));

    // Nobody calls publier(): each report goes out on its own, as soon as
    // its host's second allows, the later of two taking the place of the other.
    recu.clear();
    web.recevoir(rapport(QStringLiteral("hv-e"), 1));
    QTRY_VERIFY((recu += page.readAll()).contains("\"cpu\":1,"));
    web.recevoir(rapport(QStringLiteral("hv-e"), 2));
    web.recevoir(rapport(QStringLiteral("hv-e"), 3));
    QTRY_VERIFY((recu += page.readAll()).contains("\"cpu\":3,"));
    QVERIFY(!recu.contains("\"cpu\":2,"));
    QCOMPARE(recu.count("event: maj"), 2);
}

void TestServeurHttp::pageBloquee()
{
    ServeurHttp serveur;
    serveur.fixerAttentePageMaximum(256 * 1024);
    serveur.ajouterRoute(QStringLiteral("/flux"), ServeurHttp::FilDuServeur, [](const RequeteHttp &) {
        ReponseHttp r;
        r.flux = true;
        return r;
    });
    QVERIFY(serveur.demarrer(QHostAddress::LocalHost, 0));
    // A page that never reads.
    QTcpSocket page;
    page.setReadBufferSize(1);
    page.connectToHost(QHostAddress::LocalHost, serveur.port());
    page.write("GET /flux HTTP/1.1\r\nHost: x\r\n\r\n");
    QTRY_COMPARE(serveur.pages(), 1);

    const QByteArray evenement = ServeurHttp::evenement("maj", QByteArray(64 * 1024, 'x'));
    for (int i = 0; i < 400 && serveur.pagesAbandonnees() == 0; ++i) {
        serveur.diffuser(evenement);
        QVERIFY(serveur.octetsEnAttente() <= 256 * 1024);
        QTest::qWait(2);
    }
    QCOMPARE(serveur.pagesAbandonnees(), quint64(1));
    QCOMPARE(serveur.octetsEnAttente(), qint64(0));
    // Other pages go on.
    QCOMPARE(obtenir(serveur.port(), "/").statut, 200);
}

void TestServeurHttp::centPages()
{
    ApplicationWeb web(parametres(1));
    QVERIFY(web.demarrer());
    std::vector<std::unique_ptr<QTcpSocket>> pages;
    for (int i = 0; i < 120; ++i) {
        pages.push_back(std::make_unique<QTcpSocket>());
        pages.back()->connectToHost(QHostAddress::LocalHost, web.serveur().port());
        pages.back()->write("GET /api/flux HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    QTRY_COMPARE(web.serveur().pages(), 120);
    web.recevoir(rapport(QStringLiteral("hv-d"), 12));
    web.publier();
    for (auto &page : pages) {
        QByteArray recu;
        QTRY_VERIFY((recu += page->readAll()).contains("\"nom\":\"hv-d\""));
    }
    // The page files are still served while they all wait.
    QCOMPARE(obtenir(web.serveur().port(), "/style.css").statut, 200);
    pages.clear();
    web.arreter();
}

QTEST_GUILESS_MAIN(TestServeurHttp)
#include "tst_serveurhttp.moc"
