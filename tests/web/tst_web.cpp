// SPDX-License-Identifier: MIT
#include "ClientHttp.h"
#include "Programme.h"
#include "RecepteurHttp.h"
#include "TrameAffichage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>

class TestWeb : public QObject
{
    Q_OBJECT

private slots:
    void ligneCommande_data();
    void ligneCommande();
    void ecoutePortLibre();
    void connexionAuCollecteur();
    void prometheus();
    void alertes();
    void alertmanager();
};

namespace {

// `nom` is written into the JSON as it is: escaped by the caller.
QByteArray rapport(const QString &nom, double cpu)
{
    return QStringLiteral("{\"name\":\"%1\",\"time\":%2,\"cpu\":%3,\"ram\":10,\"vms\":[{\"name\":\"vm-1\",\"uuid\":\"u-1\","
                          "\"state\":1,\"ram\":2048,\"maxram\":4096}]}")
        .arg(nom)
        .arg(QDateTime::currentSecsSinceEpoch())
        .arg(cpu)
        .toLatin1();
}

// A stand-in for the collector's display port.
class FauxCollecteur
{
public:
    bool ecouter(quint16 port) { return m_serveur.listen(QHostAddress::LocalHost, port); }
    QTcpSocket *client(int delai = 20000)
    {
        QDeadlineTimer limite(delai);
        while (!m_serveur.hasPendingConnections() && !limite.hasExpired())
            QTest::qWait(20);
        return m_serveur.nextPendingConnection();
    }
    void fermer() { m_serveur.close(); }

private:
    QTcpServer m_serveur;
};

} // namespace

void TestWeb::ligneCommande_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("ligne");

    QTest::newRow("inattendu") << QStringList{QStringLiteral("en-trop")} << QStringLiteral("Argument inattendu : en-trop");
    QTest::newRow("collecteur-sans-port") << QStringList{QStringLiteral("--collecteur=hote")}
                                          << QStringLiteral("Valeur invalide pour --collecteur : « hote » (HOTE:PORT attendu).");
    QTest::newRow("collecteur-port-0") << QStringList{QStringLiteral("--collecteur=127.0.0.1:0")}
                                       << QStringLiteral("Valeur invalide pour --collecteur : « 127.0.0.1:0 » (HOTE:PORT attendu).");
    QTest::newRow("ecoute-nom") << QStringList{QStringLiteral("--ecoute=localhost:8080")}
                                << QStringLiteral("Valeur invalide pour --ecoute : « localhost:8080 » "
                                                  "(ADRESSE:PORT attendu, adresse IP).");
    QTest::newRow("ecoute-port") << QStringList{QStringLiteral("--ecoute=[::1]:65536")}
                                 << QStringLiteral("Valeur invalide pour --ecoute : « [::1]:65536 » "
                                                   "(ADRESSE:PORT attendu, adresse IP).");
    QTest::newRow("fenetre-0") << QStringList{QStringLiteral("--fenetre=0")}
                               << QStringLiteral("Valeur invalide pour --fenetre : « 0 » (entier de 1 à 1440 attendu).");
    QTest::newRow("fenetre-texte") << QStringList{QStringLiteral("--fenetre=dix")}
                                   << QStringLiteral("Valeur invalide pour --fenetre : « dix » (entier de 1 à 1440 attendu).");
    QTest::newRow("alertmanager-sans-schema")
        << QStringList{QStringLiteral("--alertmanager=am:9093")}
        << QStringLiteral("Valeur invalide pour --alertmanager : « am:9093 » (adresse http:// ou https:// attendue).");
    QTest::newRow("courriel-deux-adresses")
        << QStringList{QStringLiteral("--courriel=a@exemple.org,b@exemple.org")}
        << QStringLiteral("Valeur invalide pour --courriel : « a@exemple.org,b@exemple.org » (une adresse nom@domaine attendue).");
    QTest::newRow("aide") << QStringList{QStringLiteral("--help")} << QString();
}

void TestWeb::ligneCommande()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, ligne);

    // Refused before anything starts: one line and status 2, or the help and 0.
    Programme web(QStringLiteral(WEB_BINAIRE), arguments);
    QVERIFY(web.processus().waitForFinished(10000));
    QCOMPARE(web.processus().exitStatus(), QProcess::NormalExit);
    if (ligne.isEmpty()) {
        QCOMPARE(web.processus().exitCode(), 0);
        QCOMPARE(web.lignes(), QStringList());
        const QString aide = QString::fromUtf8(web.processus().readAllStandardOutput());
        QVERIFY2(aide.startsWith(QStringLiteral("Utilisation : ")), qPrintable(aide));
        for (const QString &option : {QStringLiteral("\nOptions :\n"), QStringLiteral("--collecteur <HOTE:PORT>"),
                                      QStringLiteral("--ecoute <ADRESSE:PORT>"), QStringLiteral("--fenetre <MINUTES>"),
                                      QStringLiteral("--sauvegardes <DOSSIER>"), QStringLiteral("--archive <DOSSIER>"),
                                      QStringLiteral("--regles <FICHIER>"), QStringLiteral("--tls-certificat <FICHIER>"),
                                      QStringLiteral("--tls-cle <FICHIER>"), QStringLiteral("--utilisateurs <FICHIER>"),
                                      QStringLiteral("--metriques-libres")})
            QVERIFY2(aide.contains(option), qPrintable(aide));
        return;
    }
    QCOMPARE(web.processus().exitCode(), 2);
    QCOMPARE(web.lignes(), QStringList{ligne});
    QVERIFY(web.processus().readAllStandardOutput().isEmpty());
}

void TestWeb::ecoutePortLibre()
{
    // Port 0: the system chooses, and the start-up line tells which.
    QTemporaryDir dossier;
    Programme web(QStringLiteral(WEB_BINAIRE), {QStringLiteral("--collecteur=127.0.0.1:%1").arg(portTcpLibre()),
                                                QStringLiteral("--ecoute=127.0.0.1:0"),
                                                QStringLiteral("--sauvegardes=") + dossier.path()});
    static const QRegularExpression demarrage(QStringLiteral("^Tableau de bord sur http://127\\.0\\.0\\.1:(\\d+)/ "
                                                             "\\(sauvegardes lues dans .*, archive dans .*\\)\\.$"));
    QRegularExpressionMatch trouvee;
    QTRY_VERIFY2((trouvee = demarrage.match(web.lignes().value(0))).hasMatch(), qPrintable(web.lignes().join(QLatin1Char('\n'))));
    const quint16 port = quint16(trouvee.captured(1).toUInt());
    QVERIFY(port != 0);
    QCOMPARE(obtenir(port, "/").statut, 200);
    QVERIFY2(web.arreter(), qPrintable(web.lignes().join(QLatin1Char('\n'))));
}

void TestWeb::connexionAuCollecteur()
{
    QTemporaryDir dossier;
    const quint16 portCollecteur = portTcpLibre();
    const quint16 portWeb = portTcpLibre();
    const QString adresse = QStringLiteral("127.0.0.1:%1").arg(portCollecteur);
    Programme web(QStringLiteral(WEB_BINAIRE),
                  {QStringLiteral("--collecteur=") + adresse, QStringLiteral("--ecoute=127.0.0.1:%1").arg(portWeb),
                   QStringLiteral("--sauvegardes=") + dossier.path()});
    const QString injoignable =
        QStringLiteral("Collecteur %1 injoignable : Connection refused. Nouvel essai dans 1 s, puis jusqu'à toutes les 30 s.").arg(adresse);
    QVERIFY2(web.attendreLigne(injoignable), qPrintable(web.lignes().join(QLatin1Char('\n'))));

    // The collector comes up later: the dashboard finds it on its own.
    FauxCollecteur collecteur;
    QVERIFY(collecteur.ecouter(portCollecteur));
    QTcpSocket *lien = collecteur.client();
    QVERIFY(lien);
    const QString connecte = QStringLiteral("Connecté au collecteur %1.").arg(adresse);
    QVERIFY(web.attendreLigne(connecte));
    lien->write(TrameAffichage::ecrire(QString::fromLatin1(rapport(QStringLiteral("hv-1"), 12.5))));
    lien->write(TrameAffichage::ecrire(QStringLiteral("[\"pas un rapport\"]")));
    lien->flush();
    QTRY_VERIFY_WITH_TIMEOUT(obtenir(portWeb, "/metrics").corps.contains("\ncollecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv-1\"} 0.125\n"),
                             10000);
    const QByteArray metriques = obtenir(portWeb, "/metrics").corps;
    QVERIFY(metriques.contains("\ncollecteur_web_connecte 1\n"));
    QVERIFY(metriques.contains("\ncollecteur_web_trames_total 2\n"));
    QVERIFY(metriques.contains("\ncollecteur_web_rapports_invalides_total 1\n"));

    // A lost link, then a stream that is not a display stream.
    lien->close();
    QTcpSocket *deuxieme = collecteur.client();
    QVERIFY(deuxieme);
    deuxieme->write(QByteArray("\x00\x00\x00\x02\x02xy", 7));
    deuxieme->flush();
    QTcpSocket *troisieme = collecteur.client();
    QVERIFY(troisieme);
    QTRY_VERIFY_WITH_TIMEOUT(obtenir(portWeb, "/metrics").corps.contains("\ncollecteur_web_reconnexions_total 2\n"), 10000);
    // While the collector is gone the page and the metrics say so.
    troisieme->close();
    collecteur.fermer();
    QTRY_VERIFY_WITH_TIMEOUT(obtenir(portWeb, "/metrics").corps.contains("\ncollecteur_web_connecte 0\n"), 10000);
    QCOMPARE(QJsonDocument::fromJson(obtenir(portWeb, "/api/flotte").corps).object().value(QStringLiteral("connecte")),
             QJsonValue(false));

    QVERIFY(web.arreter());
    QCOMPARE(web.processus().exitCode(), 0);
    const QString perdue = QStringLiteral("Connexion au collecteur %1 perdue : %2. Nouvel essai dans 1 s.");
    QCOMPARE(web.lignes(),
             QStringList({QStringLiteral("Tableau de bord sur http://127.0.0.1:%1/ (sauvegardes lues dans %2, archive dans %2/archive).")
                              .arg(portWeb)
                              .arg(dossier.path()),
                          QStringLiteral("Alertes notifiées à personne (ni --alertmanager, ni --webhook, ni --courriel) ; "
                                         "état non gardé (pas de --etat)."),
                          injoignable, connecte, perdue.arg(adresse, QStringLiteral("The remote host closed the connection")),
                          connecte, perdue.arg(adresse, QStringLiteral("Trame invalide : marqueur 2 au lieu de 1")), connecte,
                          perdue.arg(adresse, QStringLiteral("The remote host closed the connection")),
                          QStringLiteral("Arrêt du tableau de bord.")}));
}

void TestWeb::prometheus()
{
    const QString binaire = QStringLiteral("/usr/bin/prometheus");
    if (!QFile::exists(binaire))
        QSKIP("prometheus absent (scripts/install-deps.sh essais l'installe)");

    QTemporaryDir dossier;
    const quint16 portCollecteur = portTcpLibre();
    const quint16 portWeb = portTcpLibre();
    FauxCollecteur collecteur;
    QVERIFY(collecteur.ecouter(portCollecteur));
    Programme web(QStringLiteral(WEB_BINAIRE), {QStringLiteral("--collecteur=127.0.0.1:%1").arg(portCollecteur),
                                                QStringLiteral("--ecoute=127.0.0.1:%1").arg(portWeb),
                                                QStringLiteral("--sauvegardes=") + dossier.path()});
    QTcpSocket *lien = collecteur.client();
    QVERIFY(lien);
    lien->write(TrameAffichage::ecrire(QString::fromLatin1(rapport(QStringLiteral("hv \\\"prom\\\""), 42.5))));
    lien->flush();

    QFile configuration(dossier.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(configuration.open(QIODevice::WriteOnly));
    configuration.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                       "scrape_configs:\n  - job_name: collecteur-web\n    static_configs:\n"
                                       "      - targets: ['127.0.0.1:%1']\n")
                            .arg(portWeb)
                            .toUtf8());
    configuration.close();
    const quint16 portPrometheus = portTcpLibre();
    Programme prometheus(binaire, {QStringLiteral("--config.file=") + configuration.fileName(),
                                   QStringLiteral("--storage.tsdb.path=") + dossier.filePath(QStringLiteral("tsdb")),
                                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(portPrometheus)});

    const QByteArray requete =
        "/api/v1/query?query="
        + QUrl::toPercentEncoding(QStringLiteral("collecteur_hyperviseur_cpu_ratio{hyperviseur=\"hv \\\"prom\\\"\"}"));
    const QByteArray requeteVM = "/api/v1/query?query=" + QUrl::toPercentEncoding(QStringLiteral("collecteur_vm_maxram_bytes"));
    QJsonArray resultats;
    QDeadlineTimer limite(60000);
    while (!limite.hasExpired() && resultats.isEmpty()) {
        QTest::qWait(500);
        resultats = QJsonDocument::fromJson(obtenir(portPrometheus, requete).corps)
                        .object()
                        .value(QStringLiteral("data"))
                        .toObject()
                        .value(QStringLiteral("result"))
                        .toArray();
    }
    QVERIFY2(!resultats.isEmpty(), qPrintable(prometheus.lignes().join(QLatin1Char('\n'))));
    QCOMPARE(resultats.first().toObject().value(QStringLiteral("value")).toArray().at(1).toString(), QStringLiteral("0.425"));
    const QJsonObject vm = QJsonDocument::fromJson(obtenir(portPrometheus, requeteVM).corps)
                               .object()
                               .value(QStringLiteral("data"))
                               .toObject()
                               .value(QStringLiteral("result"))
                               .toArray()
                               .first()
                               .toObject();
    QCOMPARE(vm.value(QStringLiteral("metric")).toObject().value(QStringLiteral("vm")).toString(), QStringLiteral("vm-1"));
    QCOMPARE(vm.value(QStringLiteral("value")).toArray().at(1).toString(), QStringLiteral("4194304"));
    QVERIFY(prometheus.arreter());
    QVERIFY2(web.arreter(), qPrintable(web.lignes().join(QLatin1Char('\n'))));
}

namespace {

bool ecrireFichier(const QString &chemin, const QByteArray &texte)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly | QIODevice::Truncate) && fichier.write(texte) == texte.size();
}

QJsonArray alertesActives(quint16 port)
{
    return QJsonDocument::fromJson(obtenir(port, "/api/alertes").corps).object().value(QStringLiteral("alertes")).toArray();
}

} // namespace

void TestWeb::alertes()
{
    QTemporaryDir dossier;
    const QString regles = dossier.filePath(QStringLiteral("alertes.regles"));
    const quint16 portCollecteur = portTcpLibre();
    const quint16 portWeb = portTcpLibre();
    const QStringList arguments{QStringLiteral("--collecteur=127.0.0.1:%1").arg(portCollecteur),
                                QStringLiteral("--ecoute=127.0.0.1:%1").arg(portWeb),
                                QStringLiteral("--sauvegardes=") + dossier.path(), QStringLiteral("--regles=") + regles};

    // A rules file that cannot be read stops the start, in one line.
    {
        Programme absent(QStringLiteral(WEB_BINAIRE), arguments);
        QVERIFY(absent.processus().waitForFinished(10000));
        QCOMPARE(absent.processus().exitCode(), 1);
        QCOMPARE(absent.lignes(), QStringList{QStringLiteral("Règles illisibles : %1 : No such file or directory.").arg(regles)});
    }

    QVERIFY(ecrireFichier(regles, "# seulement les règles fournies, moins une\ndesactiver VmArretee\n"));
    FauxCollecteur collecteur;
    QVERIFY(collecteur.ecouter(portCollecteur));
    Programme web(QStringLiteral(WEB_BINAIRE), arguments);
    QTcpSocket *lien = collecteur.client();
    QVERIFY(lien);
    const QString lues = QStringLiteral("%1 : 7 règles actives, 0 fenêtres de maintenance.").arg(regles);
    QVERIFY2(web.attendreLigne(QStringLiteral("Règles lues dans ") + lues), qPrintable(web.lignes().join(QLatin1Char('\n'))));
    // A full disk fires at once; a temperature no sensor gives is unknown.
    lien->write(TrameAffichage::ecrire(QStringLiteral("{\"name\":\"hv \\\"<b>\\\"\",\"disk\":97,\"cputemp\":3892314,\"vms\":[]}")));
    lien->flush();
    QTRY_COMPARE_WITH_TIMEOUT(alertesActives(portWeb).size(), 2, 10000);
    const QJsonArray actives = alertesActives(portWeb);
    const QJsonObject disque = actives.at(0).toObject();
    QCOMPARE(disque.value(QStringLiteral("alertname")).toString(), QStringLiteral("HyperviseurDisque"));
    QCOMPARE(disque.value(QStringLiteral("severity")).toString(), QStringLiteral("critique"));
    QCOMPARE(disque.value(QStringLiteral("hyperviseur")).toString(), QStringLiteral("hv \"<b>\""));
    QCOMPARE(disque.value(QStringLiteral("vm")).toString(), QString());
    QCOMPARE(disque.value(QStringLiteral("valeur")).toDouble(), 97.0);
    QCOMPARE(disque.value(QStringLiteral("seuil")).toDouble(), 95.0);
    QCOMPARE(disque.value(QStringLiteral("silence")).toBool(), false);
    QCOMPARE(actives.at(1).toObject().value(QStringLiteral("alertname")).toString(), QStringLiteral("HyperviseurTemperatureCpu"));
    QCOMPARE(actives.at(1).toObject().value(QStringLiteral("severity")).toString(), QStringLiteral("inconnu"));
    QCOMPARE(QJsonDocument::fromJson(obtenir(portWeb, "/api/alertes").corps).object().value(QStringLiteral("valeursImpossibles")),
             QJsonValue(1));
    const QByteArray alerte = "\ncollecteur_alerte{alertname=\"HyperviseurDisque\",severity=\"critique\","
                              "hyperviseur=\"hv \\\"<b>\\\"\",vm=\"\"} 1\n";
    QByteArray metriques = obtenir(portWeb, "/metrics").corps;
    QVERIFY2(metriques.contains(alerte), metriques.constData());
    QVERIFY(!metriques.contains("collecteur_alerte{alertname=\"HyperviseurTemperatureCpu\""));
    QVERIFY(metriques.contains("\ncollecteur_alertes_valeurs_impossibles_total 1\n"));

    // SIGHUP: a bad file changes nothing, a good one applies at once.
    QVERIFY(ecrireFichier(regles, "desactiver HyperviseurDisque\nregle Disque hyperviseur disque >= 1 2\n"));
    QCOMPARE(::kill(pid_t(web.processus().processId()), SIGHUP), 0);
    QVERIFY(web.attendreLigne(QStringLiteral("Règles non relues, celles en vigueur sont gardées : %1, ligne 2 : "
                                             "mesure inconnue « disque ».")
                                  .arg(regles)));
    QCOMPARE(alertesActives(portWeb).size(), 2);
    QVERIFY(ecrireFichier(regles, "desactiver HyperviseurDisque\n"));
    QCOMPARE(::kill(pid_t(web.processus().processId()), SIGHUP), 0);
    QVERIFY(web.attendreLigne(QStringLiteral("Règles relues dans ") + lues));
    QCOMPARE(alertesActives(portWeb).size(), 1);
    metriques = obtenir(portWeb, "/metrics").corps;
    QVERIFY2(!metriques.contains("\ncollecteur_alerte{"), metriques.constData());

    QVERIFY(web.arreter());
    QCOMPARE(web.processus().exitCode(), 0);
}

namespace {

QStringList resumer(const QJsonObject &corps)
{
    QStringList lignes;
    for (const QJsonValue &valeur : corps.value(QStringLiteral("alerts")).toArray()) {
        const QJsonObject alerte = valeur.toObject();
        const QJsonObject etiquettes = alerte.value(QStringLiteral("labels")).toObject();
        lignes.append(QStringLiteral("%1 %2 %3 %4")
                          .arg(alerte.value(QStringLiteral("status")).toString(),
                               etiquettes.value(QStringLiteral("alertname")).toString(),
                               etiquettes.value(QStringLiteral("severity")).toString(),
                               etiquettes.value(QStringLiteral("hyperviseur")).toString()));
    }
    return lignes;
}

QStringList recus(const RecepteurHttp &recepteur, const QString &chemin)
{
    QStringList lignes;
    for (int i = 0; i < recepteur.corps.size(); ++i) {
        if (recepteur.chemins.at(i) == chemin)
            lignes += resumer(recepteur.json(i));
    }
    return lignes;
}

} // namespace

void TestWeb::alertmanager()
{
    const QString binaire = QStringLiteral("/usr/bin/prometheus-alertmanager");
    if (!QFile::exists(binaire))
        QSKIP("prometheus-alertmanager absent (scripts/install-deps.sh essais l'installe)");

    // A real Alertmanager that routes everything, at once, to the test's
    // receiver, which also takes collecteur-web's own webhook.
    QTemporaryDir dossier;
    RecepteurHttp recepteur;
    QVERIFY(recepteur.ecouter());
    QFile configuration(dossier.filePath(QStringLiteral("alertmanager.yml")));
    QVERIFY(configuration.open(QIODevice::WriteOnly));
    configuration.write(QStringLiteral("route:\n  receiver: essai\n  group_by: [alertname, hyperviseur]\n"
                                       "  group_wait: 0s\n  group_interval: 1s\n  repeat_interval: 1h\n"
                                       "receivers:\n  - name: essai\n    webhook_configs:\n"
                                       "      - url: %1\n        send_resolved: true\n")
                            .arg(recepteur.url(QStringLiteral("/alertmanager")))
                            .toUtf8());
    configuration.close();
    const quint16 portAlertmanager = portTcpLibre();
    Programme alertmanager(binaire, {QStringLiteral("--config.file=") + configuration.fileName(),
                                     QStringLiteral("--storage.path=") + dossier.filePath(QStringLiteral("am")),
                                     QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(portAlertmanager),
                                     QStringLiteral("--cluster.listen-address=")});
    const auto pret = [portAlertmanager]() {
        QTcpSocket essai;
        essai.connectToHost(QHostAddress::LocalHost, portAlertmanager);
        return essai.waitForConnected(1000) && obtenir(portAlertmanager, "/-/ready").statut == 200;
    };
    QTRY_VERIFY_WITH_TIMEOUT(pret(), 30000);

    const quint16 portCollecteur = portTcpLibre();
    const quint16 portWeb = portTcpLibre();
    FauxCollecteur collecteur;
    QVERIFY(collecteur.ecouter(portCollecteur));
    const QString etat = dossier.filePath(QStringLiteral("etat"));
    const QStringList arguments{QStringLiteral("--collecteur=127.0.0.1:%1").arg(portCollecteur),
                                QStringLiteral("--ecoute=127.0.0.1:%1").arg(portWeb),
                                QStringLiteral("--sauvegardes=") + dossier.path(),
                                QStringLiteral("--alertmanager=http://127.0.0.1:%1").arg(portAlertmanager),
                                QStringLiteral("--webhook=") + recepteur.url(QStringLiteral("/direct")),
                                QStringLiteral("--etat=") + etat};
    const QByteArray chaud = TrameAffichage::ecrire(QStringLiteral("{\"name\":\"hv-am\",\"disk\":97,\"vms\":[]}"));
    const QString declenchee = QStringLiteral("firing HyperviseurDisque critique hv-am");
    const QString resolue = QStringLiteral("resolved HyperviseurDisque critique hv-am");
    {
        Programme web(QStringLiteral(WEB_BINAIRE), arguments);
        QTcpSocket *lien = collecteur.client();
        QVERIFY(lien);
        QVERIFY2(web.attendreLigne(QStringLiteral("Alertes notifiées à : Alertmanager http://127.0.0.1:%1, webhook %2 ; "
                                                  "état gardé dans %3.")
                                       .arg(portAlertmanager)
                                       .arg(recepteur.url(QStringLiteral("/direct")), etat)),
                 qPrintable(web.lignes().join(QLatin1Char('\n'))));
        lien->write(chaud);
        lien->flush();
        QTRY_COMPARE_WITH_TIMEOUT(recus(recepteur, QStringLiteral("/alertmanager")), QStringList{declenchee}, 30000);
        QCOMPARE(recus(recepteur, QStringLiteral("/direct")), QStringList{declenchee});
        const QJsonObject annotations = recepteur.json(recepteur.chemins.indexOf(QStringLiteral("/alertmanager")))
                                            .value(QStringLiteral("alerts"))
                                            .toArray()
                                            .first()
                                            .toObject()
                                            .value(QStringLiteral("annotations"))
                                            .toObject();
        QCOMPARE(annotations.value(QStringLiteral("summary")).toString(),
                 QStringLiteral("HyperviseurDisque (critique) sur hv-am"));
        QVERIFY(web.arreter());
    }

    // A restart while it fires: no second firing, and its end is still told.
    Programme web(QStringLiteral(WEB_BINAIRE), arguments);
    QTcpSocket *lien = collecteur.client();
    QVERIFY(lien);
    lien->write(chaud);
    lien->write(TrameAffichage::ecrire(QStringLiteral("{\"name\":\"hv-am\",\"disk\":40,\"vms\":[]}")));
    lien->flush();
    QTRY_COMPARE_WITH_TIMEOUT(recus(recepteur, QStringLiteral("/direct")), QStringList({declenchee, resolue}), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(recus(recepteur, QStringLiteral("/alertmanager")), QStringList({declenchee, resolue}), 30000);
    const QByteArray metriques = obtenir(portWeb, "/metrics").corps;
    QVERIFY2(metriques.contains(QStringLiteral("\ncollecteur_notifications_envoyees_total{destinataire=\"webhook %1\"} 1\n")
                                    .arg(recepteur.url(QStringLiteral("/direct")))
                                    .toUtf8()),
             metriques.constData());
    const QJsonArray episodes = QJsonDocument::fromJson(obtenir(portWeb, "/api/alertes/historique").corps)
                                    .object()
                                    .value(QStringLiteral("episodes"))
                                    .toArray();
    QCOMPARE(episodes.size(), 1);
    QVERIFY(!episodes.first().toObject().value(QStringLiteral("fin")).isNull());
    QVERIFY(web.arreter());
    QVERIFY(alertmanager.arreter());
}

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
