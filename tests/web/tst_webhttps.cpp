// SPDX-License-Identifier: MIT
#include "ClientHttps.h"
#include "EmpreinteEssai.h"
#include "Programme.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>

// The real collecteur-web over HTTPS, on a certificate the test makes with
// openssl, with users whose hashes the test makes with libcrypt.
class TestWebHttps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusAuDemarrage_data();
    void refusAuDemarrage();
    void httpsEtIdentification();
    void metriquesLibresEtRechargement();
    void prometheus();

private:
    QString fichier(const QString &nom) const { return m_dossier.filePath(nom); }
    QStringList arguments(quint16 portWeb) const;

    QTemporaryDir m_dossier;
    QSslCertificate m_certificat;
};

namespace {

bool ecrireFichier(const QString &chemin, const QByteArray &texte)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly | QIODevice::Truncate) && fichier.write(texte) == texte.size();
}

QString certificatEssai(const QString &dossier, const QString &nom, const QString &sujet)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dossier);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), nom + QStringLiteral("-cle.pem"),
                   QStringLiteral("-out"), nom + QStringLiteral(".pem"), QStringLiteral("-subj"), QStringLiteral("/CN=") + sujet,
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:%1,IP:127.0.0.1").arg(sujet)});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return QString::fromLocal8Bit(openssl.readAllStandardError());
    return QString();
}

QString texte(Programme &programme)
{
    return programme.lignes().join(QLatin1Char('\n'));
}

} // namespace

void TestWebHttps::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("openssl absent (scripts/install-deps.sh essais l'installe)");
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt sans TLS");
    QVERIFY(m_dossier.isValid());
    for (const QString &nom : {QStringLiteral("certificat"), QStringLiteral("autre")}) {
        const QString erreur = certificatEssai(m_dossier.path(), nom, QStringLiteral("localhost"));
        QVERIFY2(erreur.isEmpty(), qPrintable(erreur));
    }
    const QList<QSslCertificate> lus = QSslCertificate::fromPath(fichier(QStringLiteral("certificat.pem")));
    QCOMPARE(lus.size(), 1);
    m_certificat = lus.first();
    QVERIFY(ecrireFichier(fichier(QStringLiteral("utilisateurs")),
                          "# l'équipe d'astreinte\n\nalice:" + empreinteEssai("$2b$", "secret") + "\nbob:"
                              + empreinteEssai("$y$", "mot de passe") + "\n"));
}

QStringList TestWebHttps::arguments(quint16 portWeb) const
{
    return {QStringLiteral("--collecteur=127.0.0.1:%1").arg(portTcpLibre()), QStringLiteral("--ecoute=127.0.0.1:%1").arg(portWeb),
            QStringLiteral("--sauvegardes=") + m_dossier.path()};
}

void TestWebHttps::refusAuDemarrage_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("statut");
    QTest::addColumn<QString>("ligne");

    QTest::newRow("certificat-seul") << QStringList{QStringLiteral("--tls-certificat=certificat.pem")} << 2
                                     << QStringLiteral("Options --tls-certificat et --tls-cle à donner ensemble "
                                                       "(seule --tls-certificat est donnée).");
    QTest::newRow("cle-seule") << QStringList{QStringLiteral("--tls-cle=certificat-cle.pem")} << 2
                               << QStringLiteral("Options --tls-certificat et --tls-cle à donner ensemble "
                                                 "(seule --tls-cle est donnée).");
    QTest::newRow("utilisateurs-vide") << QStringList{QStringLiteral("--utilisateurs=")} << 2
                                       << QStringLiteral("Valeur invalide pour --utilisateurs : «  » (chemin de fichier attendu).");
    QTest::newRow("certificat-absent") << QStringList{QStringLiteral("--tls-certificat=absent.pem"),
                                                      QStringLiteral("--tls-cle=certificat-cle.pem")}
                                       << 1 << QStringLiteral("Certificat TLS illisible : absent.pem : No such file or directory.");
    QTest::newRow("cle-absente") << QStringList{QStringLiteral("--tls-certificat=certificat.pem"),
                                                QStringLiteral("--tls-cle=absente.pem")}
                                 << 1 << QStringLiteral("Clé TLS illisible : absente.pem : No such file or directory.");
    QTest::newRow("pas-du-pem") << QStringList{QStringLiteral("--tls-certificat=utilisateurs"),
                                               QStringLiteral("--tls-cle=certificat-cle.pem")}
                                << 1
                                << QStringLiteral("Certificat ou clé TLS refusés (utilisateurs, certificat-cle.pem) : GnuTLS "
                                                  "failed to setup x509 certificate/key: Base64 decoding error.");
    QTest::newRow("cle-d-un-autre") << QStringList{QStringLiteral("--tls-certificat=certificat.pem"),
                                                   QStringLiteral("--tls-cle=autre-cle.pem")}
                                    << 1
                                    << QStringLiteral("Certificat ou clé TLS refusés (certificat.pem, autre-cle.pem) : GnuTLS "
                                                      "failed to setup x509 certificate/key: The certificate and the given "
                                                      "key do not match.");
    QTest::newRow("utilisateurs-absent") << QStringList{QStringLiteral("--utilisateurs=absent")} << 1
                                         << QStringLiteral("Utilisateurs illisibles : absent : No such file or directory.");
    QTest::newRow("utilisateurs-en-clair") << QStringList{QStringLiteral("--utilisateurs=certificat.pem")} << 1
                                           << QStringLiteral("Utilisateurs illisibles : certificat.pem, ligne 1 : nom:empreinte "
                                                             "attendu.");
}

void TestWebHttps::refusAuDemarrage()
{
    QFETCH(QStringList, options);
    QFETCH(int, statut);
    QFETCH(QString, ligne);

    // One line and nothing served.
    Programme web(QStringLiteral(WEB_BINAIRE), arguments(portTcpLibre()) + options, m_dossier.path());
    QVERIFY(web.processus().waitForFinished(10000));
    QCOMPARE(web.processus().exitStatus(), QProcess::NormalExit);
    QCOMPARE(web.processus().exitCode(), statut);
    QCOMPARE(web.lignes(), QStringList{ligne});
}

void TestWebHttps::httpsEtIdentification()
{
    const quint16 port = portTcpLibre();
    Programme web(QStringLiteral(WEB_BINAIRE),
                  arguments(port)
                      + QStringList{QStringLiteral("--tls-certificat=") + fichier(QStringLiteral("certificat.pem")),
                                    QStringLiteral("--tls-cle=") + fichier(QStringLiteral("certificat-cle.pem")),
                                    QStringLiteral("--utilisateurs=") + fichier(QStringLiteral("utilisateurs"))});
    const QString demarrage = QStringLiteral("Tableau de bord sur https://127.0.0.1:%1/ (sauvegardes lues dans %2, archive dans "
                                             "%2/archive).")
                                  .arg(port)
                                  .arg(m_dossier.path());
    QVERIFY2(web.attendreLigne(demarrage), qPrintable(texte(web)));
    QCOMPARE(web.lignes().value(1),
             QStringLiteral("Accès réservé aux 2 utilisateurs de %1, /metrics compris.").arg(fichier(QStringLiteral("utilisateurs"))));

    QString erreur;
    ReponseBrute reponse = echangerTls(port, m_certificat, requeteGet("/"), &erreur);
    QCOMPARE(reponse.statut, 401);
    QCOMPARE(reponse.entete("WWW-Authenticate"), QByteArray("Basic realm=\"collecteur\", charset=\"UTF-8\""));
    reponse = echangerTls(port, m_certificat, requeteGet("/", "alice", "secret"), &erreur);
    QCOMPARE(reponse.statut, 200);
    QVERIFY(reponse.corps.contains("<html"));
    reponse = echangerTls(port, m_certificat, requeteGet("/api/flotte", "bob", "mot de passe"), &erreur);
    QCOMPARE(reponse.statut, 200);
    QCOMPARE(QJsonDocument::fromJson(reponse.corps).object().value(QStringLiteral("connecte")), QJsonValue(false));
    QCOMPARE(echangerTls(port, m_certificat, requeteGet("/metrics")).statut, 401);
    QVERIFY(echangerTls(port, m_certificat, requeteGet("/metrics", "alice", "secret")).corps.contains("\ncollecteur_web_connecte 0\n"));
    QCOMPARE(echangerTls(port, m_certificat, requeteGet("/inconnu")).statut, 401);

    // No plain HTTP on that port, and a client that trusts another
    // certificate stops at the handshake.
    QCOMPARE(obtenir(port, "/").statut, 0);
    const QSslCertificate autre = QSslCertificate::fromPath(fichier(QStringLiteral("autre.pem"))).value(0);
    QCOMPARE(echangerTls(port, autre, requeteGet("/", "alice", "secret"), &erreur).statut, 0);
    QVERIFY2(!erreur.isEmpty(), "aucune erreur TLS");

    // Ten wrong passwords are answered 401, the eleventh shuts the address
    // out, right password or not.
    for (int i = 0; i < 10; ++i)
        QCOMPARE(echangerTls(port, m_certificat, requeteGet("/", "alice", "faux")).statut, 401);
    reponse = echangerTls(port, m_certificat, requeteGet("/", "alice", "faux"));
    QCOMPARE(reponse.statut, 429);
    QCOMPARE(reponse.entete("Retry-After"), QByteArray("60"));
    QCOMPARE(echangerTls(port, m_certificat, requeteGet("/", "alice", "secret")).statut, 429);
    QCOMPARE(echangerTls(port, m_certificat, requeteGet("/metrics", "bob", "mot de passe")).statut, 429);

    QVERIFY2(web.arreter(), qPrintable(texte(web)));
    QStringList identification = web.lignes().filter(QStringLiteral("dentification"));
    QCOMPARE(identification,
             QStringList({QStringLiteral("Identification refusée depuis 127.0.0.1 : mot de passe faux pour « alice »."),
                          QStringLiteral("Adresse 127.0.0.1 bloquée pendant 60 s : 11 échecs d'identification en une "
                                         "minute, le dernier : mot de passe faux pour « alice ».")}));
}

void TestWebHttps::metriquesLibresEtRechargement()
{
    // Logins without TLS too, /metrics left open for a scraper.
    const QString utilisateurs = fichier(QStringLiteral("utilisateurs-relus"));
    QVERIFY(ecrireFichier(utilisateurs, "alice:" + empreinteEssai("$2b$", "secret") + "\n"));
    const quint16 port = portTcpLibre();
    Programme web(QStringLiteral(WEB_BINAIRE),
                  arguments(port) + QStringList{QStringLiteral("--utilisateurs=") + utilisateurs,
                                                QStringLiteral("--metriques-libres")});
    QVERIFY2(web.attendreLigne(QStringLiteral("Accès réservé à l'utilisateur de %1, sauf /metrics (--metriques-libres).")
                                   .arg(utilisateurs)),
             qPrintable(texte(web)));
    const QByteArray alice = "Authorization: Basic " + QByteArray("alice:secret").toBase64() + "\r\n";
    const QByteArray bob = "Authorization: Basic " + QByteArray("bob:nouveau").toBase64() + "\r\n";
    const auto statut = [port](const QByteArray &chemin, const QByteArray &entete) {
        return echanger(port, "GET " + chemin + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + entete + "\r\n").statut;
    };
    QCOMPARE(statut("/metrics", QByteArray()), 200);
    QCOMPARE(statut("/api/alertes", QByteArray()), 401);
    QCOMPARE(statut("/api/alertes", alice), 200);
    QCOMPARE(statut("/api/alertes", bob), 401);

    // SIGHUP: a bad file changes nothing, a good one applies at once.
    QVERIFY(ecrireFichier(utilisateurs, "bob:" + empreinteEssai("$y$", "nouveau") + "\ncarole\n"));
    QCOMPARE(::kill(pid_t(web.processus().processId()), SIGHUP), 0);
    QVERIFY2(web.attendreLigne(QStringLiteral("Utilisateurs non relus, ceux en vigueur sont gardés : %1, ligne 2 : "
                                              "nom:empreinte attendu.")
                                   .arg(utilisateurs)),
             qPrintable(texte(web)));
    QCOMPARE(statut("/api/alertes", alice), 200);
    QVERIFY(ecrireFichier(utilisateurs, "bob:" + empreinteEssai("$y$", "nouveau") + "\n"));
    QCOMPARE(::kill(pid_t(web.processus().processId()), SIGHUP), 0);
    QVERIFY2(web.attendreLigne(QStringLiteral("Utilisateurs relus dans %1 : 1.").arg(utilisateurs)), qPrintable(texte(web)));
    QCOMPARE(statut("/api/alertes", alice), 401);
    QCOMPARE(statut("/api/alertes", bob), 200);
    QVERIFY2(web.arreter(), qPrintable(texte(web)));
}

void TestWebHttps::prometheus()
{
    const QString binaire = QStringLiteral("/usr/bin/prometheus");
    if (!QFile::exists(binaire))
        QSKIP("prometheus absent (scripts/install-deps.sh essais l'installe)");

    // A real Prometheus scrapes over HTTPS, trusting the test's certificate
    // and logging in; a target without the password shows 401 as its error.
    const quint16 portWeb = portTcpLibre();
    Programme web(QStringLiteral(WEB_BINAIRE),
                  arguments(portWeb)
                      + QStringList{QStringLiteral("--tls-certificat=") + fichier(QStringLiteral("certificat.pem")),
                                    QStringLiteral("--tls-cle=") + fichier(QStringLiteral("certificat-cle.pem")),
                                    QStringLiteral("--utilisateurs=") + fichier(QStringLiteral("utilisateurs"))});
    QVERIFY2(web.attendreLigne(QStringLiteral("Accès réservé aux 2 utilisateurs de %1, /metrics compris.")
                                   .arg(fichier(QStringLiteral("utilisateurs")))),
             qPrintable(texte(web)));
    const QString configuration = fichier(QStringLiteral("prometheus.yml"));
    QVERIFY(ecrireFichier(configuration,
                          QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                         "scrape_configs:\n"
                                         "  - job_name: tableau\n    scheme: https\n"
                                         "    tls_config:\n      ca_file: %1\n      server_name: localhost\n"
                                         "    basic_auth:\n      username: bob\n      password: mot de passe\n"
                                         "    static_configs:\n      - targets: ['127.0.0.1:%2']\n"
                                         "  - job_name: sans-identifiants\n    scheme: https\n"
                                         "    tls_config:\n      ca_file: %1\n      server_name: localhost\n"
                                         "    static_configs:\n      - targets: ['127.0.0.1:%2']\n")
                              .arg(fichier(QStringLiteral("certificat.pem")))
                              .arg(portWeb)
                              .toUtf8()));
    const quint16 portPrometheus = portTcpLibre();
    Programme prometheus(binaire, {QStringLiteral("--config.file=") + configuration,
                                   QStringLiteral("--storage.tsdb.path=") + fichier(QStringLiteral("tsdb")),
                                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(portPrometheus)});
    const QByteArray requete = "/api/v1/query?query=" + QUrl::toPercentEncoding(QStringLiteral("collecteur_web_connecte"));
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
    QCOMPARE(resultats.first().toObject().value(QStringLiteral("value")).toArray().at(1).toString(), QStringLiteral("0"));
    const auto erreurSansIdentifiants = [portPrometheus]() {
        const QJsonArray cibles = QJsonDocument::fromJson(obtenir(portPrometheus, "/api/v1/targets").corps)
                                      .object()
                                      .value(QStringLiteral("data"))
                                      .toObject()
                                      .value(QStringLiteral("activeTargets"))
                                      .toArray();
        for (const QJsonValue &cible : cibles) {
            const QJsonObject objet = cible.toObject();
            if (objet.value(QStringLiteral("labels")).toObject().value(QStringLiteral("job")).toString()
                == QLatin1String("sans-identifiants"))
                return objet.value(QStringLiteral("lastError")).toString();
        }
        return QString();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(erreurSansIdentifiants().contains(QLatin1String("401")), qPrintable(erreurSansIdentifiants()),
                              30000);
    QVERIFY(prometheus.arreter());
    QVERIFY2(web.arreter(), qPrintable(texte(web)));
    // A scraper that does not log in is no failure to count.
    QCOMPARE(web.lignes().filter(QStringLiteral("dentification")), QStringList());
}

QTEST_GUILESS_MAIN(TestWebHttps)
#include "tst_webhttps.moc"
