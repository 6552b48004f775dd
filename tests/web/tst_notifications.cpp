// SPDX-License-Identifier: MIT
#include "CaptureErreurStandard.h"
#include "LecteurRapport.h"
#include "LecteurRegles.h"
#include "MessagesAlertes.h"
#include "RecepteurHttp.h"
#include "ServiceAlertes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void formats();
    void uneParChangement_data();
    void uneParChangement();
    void recepteurEnPanne();
    void rappelAlertmanager();
    void redemarrage_data();
    void redemarrage();
    void courriel();
    void etatIllisible();
};

namespace {

qint64 origine()
{
    return QDateTime(QDate(2026, 12, 7), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
}

// "status alertname severity[ vm]" for each alert of a webhook body.
QStringList resumer(const QJsonObject &corps)
{
    QStringList lignes;
    for (const QJsonValue &valeur : corps.value(QStringLiteral("alerts")).toArray()) {
        const QJsonObject alerte = valeur.toObject();
        const QJsonObject etiquettes = alerte.value(QStringLiteral("labels")).toObject();
        QString ligne = QStringLiteral("%1 %2 %3")
                            .arg(alerte.value(QStringLiteral("status")).toString(),
                                 etiquettes.value(QStringLiteral("alertname")).toString(),
                                 etiquettes.value(QStringLiteral("severity")).toString());
        if (etiquettes.contains(QStringLiteral("vm")))
            ligne += QLatin1Char(' ') + etiquettes.value(QStringLiteral("vm")).toString();
        lignes.append(ligne);
    }
    return lignes;
}

// The alerting of a dashboard, on an injected clock, notifying a webhook
// receiver on the loopback.
struct Essai
{
    qint64 maintenant = origine();
    RecepteurHttp recepteur;
    std::unique_ptr<ServiceAlertes> service;

    bool demarrer(const QByteArray &regles, const QString &etat = QString(), const QStringList &courriels = QStringList(),
                  const QString &sendmail = QString())
    {
        if (!recepteur.port() && !recepteur.ecouter())
            return false;
        ParametresAlertes parametres;
        parametres.etat = etat;
        parametres.webhooks = QStringList{recepteur.url()};
        parametres.courriels = courriels;
        if (!sendmail.isEmpty())
            parametres.sendmail = sendmail;
        service = std::make_unique<ServiceAlertes>(parametres, [this]() { return maintenant; });
        JeuRegles jeu;
        QString erreur;
        if (!LecteurRegles::lire(regles, jeu, erreur))
            return false;
        service->evaluateur().appliquer(jeu);
        return service->demarrer(QStringLiteral("http://tableau:56080"), erreur);
    }
    // "t json" sends a report at t seconds; "t" alone only lets the clock run.
    void jouer(const QStringList &pas)
    {
        for (const QString &p : pas) {
            const int espace = p.indexOf(QLatin1Char(' '));
            maintenant = origine() + p.left(espace).toLongLong() * 1000;
            if (espace < 0) {
                service->evaluateur().evaluer();
                continue;
            }
            RapportHyperviseur rapport;
            if (!LecteurRapport::decoder(p.mid(espace + 1), rapport))
                qFatal("rapport illisible : %s", qPrintable(p));
            service->recevoir(rapport, 10000);
        }
    }
    QStringList recus() const
    {
        QStringList lignes;
        for (int i = 0; i < recepteur.corps.size(); ++i)
            lignes += resumer(recepteur.json(i));
        return lignes;
    }
    int enAttente() const { return service->notificateur().destinataires().first()->enAttente(); }
};

QString hote(const QString &mesures)
{
    return QStringLiteral("{\"name\":\"hv-1\",%1}").arg(mesures);
}

} // namespace

void TestNotifications::formats()
{
    Alerte alerte;
    alerte.alertname = QStringLiteral("HyperviseurDisque");
    alerte.hyperviseur = QStringLiteral("hv \"1\"\nBcc: tous@exemple.org");
    alerte.etat = EtatAlerte::Critique;
    alerte.valeur = 97;
    alerte.seuil = 95;
    alerte.depuis = origine();
    NotificationAlerte declenchee = NotificationAlerte::depuis(alerte);
    NotificationAlerte resolue = declenchee;
    resolue.fin = origine() + 90000;

    // Alertmanager's webhook, version 4, as receivers written for it read it.
    const QJsonObject webhook =
        QJsonDocument::fromJson(MessagesAlertes::webhook({resolue}, QStringLiteral("webhook x"), QStringLiteral("http://t:1")))
            .object();
    QCOMPARE(webhook.value(QStringLiteral("version")).toString(), QStringLiteral("4"));
    QCOMPARE(webhook.value(QStringLiteral("status")).toString(), QStringLiteral("resolved"));
    QCOMPARE(webhook.value(QStringLiteral("receiver")).toString(), QStringLiteral("webhook x"));
    QCOMPARE(webhook.value(QStringLiteral("externalURL")).toString(), QStringLiteral("http://t:1"));
    QCOMPARE(webhook.value(QStringLiteral("groupLabels")).toObject(),
             QJsonObject({{QStringLiteral("alertname"), QStringLiteral("HyperviseurDisque")}}));
    QCOMPARE(webhook.value(QStringLiteral("commonLabels")).toObject().value(QStringLiteral("hyperviseur")).toString(),
             alerte.hyperviseur);
    QVERIFY(webhook.contains(QStringLiteral("groupKey")));
    QVERIFY(webhook.contains(QStringLiteral("commonAnnotations")));
    const QJsonObject une = webhook.value(QStringLiteral("alerts")).toArray().first().toObject();
    QCOMPARE(une.value(QStringLiteral("startsAt")).toString(), QStringLiteral("2026-12-07T01:00:00.000Z"));
    QCOMPARE(une.value(QStringLiteral("endsAt")).toString(), QStringLiteral("2026-12-07T01:01:30.000Z"));
    QCOMPARE(une.value(QStringLiteral("generatorURL")).toString(), QStringLiteral("http://t:1/#/alertes"));
    QCOMPARE(une.value(QStringLiteral("fingerprint")).toString().size(), 16);
    QCOMPARE(une.value(QStringLiteral("annotations")).toObject().value(QStringLiteral("description")).toString(),
             QStringLiteral("Valeur 97, seuil 95, depuis le 07/12/2026 01:00:00 UTC."));

    // Alertmanager's API: a firing alert carries no end, so that it lapses if no longer sent.
    const QJsonArray am = QJsonDocument::fromJson(MessagesAlertes::alertmanager({declenchee, resolue}, QString())).array();
    QCOMPARE(am.size(), 2);
    QVERIFY(!am.at(0).toObject().contains(QStringLiteral("endsAt")));
    QCOMPARE(am.at(1).toObject().value(QStringLiteral("endsAt")).toString(), QStringLiteral("2026-12-07T01:01:30.000Z"));
    QCOMPARE(am.at(0).toObject().value(QStringLiteral("labels")).toObject().keys(),
             QStringList({QStringLiteral("alertname"), QStringLiteral("hyperviseur"), QStringLiteral("severity")}));

    // A mail: the names a report gives add no header.
    const QByteArray courriel = MessagesAlertes::courriel({declenchee}, QStringLiteral("ops@exemple.org"), QString());
    const QByteArray entetes = courriel.left(courriel.indexOf("\n\n"));
    QVERIFY2(!entetes.contains("Bcc"), entetes.constData());
    QVERIFY(entetes.startsWith("To: ops@exemple.org\nSubject: =?UTF-8?B?"));
    QVERIFY(courriel.mid(courriel.indexOf("\n\n")).contains("Bcc: tous@exemple.org"));
    QVERIFY(!MessagesAlertes::adresseValide(QStringLiteral("a@b\nBcc: c@d")));
    QVERIFY(!MessagesAlertes::adresseValide(QStringLiteral("a@b, c@d")));
    QVERIFY(MessagesAlertes::adresseValide(QStringLiteral("astreinte+collecteur@exemple.org")));
}

void TestNotifications::uneParChangement_data()
{
    QTest::addColumn<QByteArray>("regles");
    QTest::addColumn<QStringList>("pas");
    QTest::addColumn<QStringList>("attendus");

    const QString vms = QStringLiteral("\"vms\":[{\"name\":\"vm-a\",\"state\":1},{\"name\":\"vm-b\",\"state\":1}]");
    QTest::newRow("valeur-hesitante")
        << QByteArray()
        << QStringList{QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":85")), QStringLiteral("10 ") + hote(QStringLiteral("\"disk\":84.9")),
                       QStringLiteral("20 ") + hote(QStringLiteral("\"disk\":85.1")), QStringLiteral("30 ") + hote(QStringLiteral("\"disk\":84")),
                       QStringLiteral("40 ") + hote(QStringLiteral("\"disk\":86")), QStringLiteral("50 ") + hote(QStringLiteral("\"disk\":79"))}
        << QStringList{QStringLiteral("firing HyperviseurDisque avertissement"),
                       QStringLiteral("resolved HyperviseurDisque avertissement")};
    QTest::newRow("severite-qui-monte")
        << QByteArray()
        << QStringList{QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":90")), QStringLiteral("10 ") + hote(QStringLiteral("\"disk\":96")),
                       QStringLiteral("20 ") + hote(QStringLiteral("\"disk\":50"))}
        << QStringList{QStringLiteral("firing HyperviseurDisque avertissement"),
                       QStringLiteral("resolved HyperviseurDisque avertissement"),
                       QStringLiteral("firing HyperviseurDisque critique"),
                       QStringLiteral("resolved HyperviseurDisque critique")};
    QTest::newRow("hote-muet-vms-retenues")
        << QByteArray()
        << QStringList{QStringLiteral("0 ") + hote(vms), QStringLiteral("10"), QStringLiteral("31"),
                       QStringLiteral("40 ") + hote(vms)}
        << QStringList{QStringLiteral("firing HyperviseurInjoignable critique"),
                       QStringLiteral("resolved HyperviseurInjoignable critique")};
    QTest::newRow("capteur-impossible")
        << QByteArray()
        << QStringList{QStringLiteral("0 ") + hote(QStringLiteral("\"cputemp\":3892314")),
                       QStringLiteral("600 ") + hote(QStringLiteral("\"cputemp\":3892314"))}
        << QStringList();
    QTest::newRow("en-maintenance")
        << QByteArray("maintenance hv-* du 2026-12-07 00:00 au 2026-12-07 02:00\n")
        << QStringList{QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":99")), QStringLiteral("10 ") + hote(QStringLiteral("\"disk\":10"))}
        << QStringList();
    QStringList bascule;
    for (int i = 0; i < 10; ++i)
        bascule << QStringLiteral("%1 ").arg(i * 10) + hote(i % 2 ? QStringLiteral("\"disk\":10") : QStringLiteral("\"disk\":99"));
    for (int i = 10; i < 40; ++i)
        bascule << QStringLiteral("%1 ").arg(i * 10) + hote(QStringLiteral("\"disk\":10"));
    QTest::newRow("instable")
        << QByteArray() << bascule
        << QStringList{QStringLiteral("firing HyperviseurDisque critique"), QStringLiteral("resolved HyperviseurDisque critique"),
                       QStringLiteral("firing HyperviseurDisque critique"), QStringLiteral("resolved HyperviseurDisque critique"),
                       QStringLiteral("firing HyperviseurDisque critique"), QStringLiteral("resolved HyperviseurDisque critique")};
    QTest::newRow("vm-plantee")
        << QByteArray()
        << QStringList{QStringLiteral("0 ") + hote(vms),
                       QStringLiteral("10 ") + hote(QStringLiteral("\"vms\":[{\"name\":\"vm-a\",\"state\":6},{\"name\":\"vm-b\",\"state\":1}]")),
                       QStringLiteral("20 ") + hote(vms)}
        << QStringList{QStringLiteral("firing VmArretee critique vm-a"), QStringLiteral("resolved VmArretee critique vm-a")};
}

void TestNotifications::uneParChangement()
{
    QFETCH(QByteArray, regles);
    QFETCH(QStringList, pas);
    QFETCH(QStringList, attendus);

    Essai essai;
    QVERIFY(essai.demarrer(regles));
    essai.jouer(pas);
    QTRY_COMPARE(essai.enAttente(), 0);
    QCOMPARE(essai.recus().join(QLatin1Char('\n')), attendus.join(QLatin1Char('\n')));
    // Every spell is in the history at its worst severity, notified or not.
    for (const QJsonValue &episode :
         QJsonDocument::fromJson(essai.service->historique()).object().value(QStringLiteral("episodes")).toArray())
        QVERIFY2(!episode.toObject().value(QStringLiteral("severity")).toString().isEmpty(),
                 QJsonDocument(episode.toObject()).toJson().constData());
}

void TestNotifications::recepteurEnPanne()
{
    CaptureErreurStandard console;
    Essai essai;
    essai.recepteur.repondre(503);
    QVERIFY(essai.demarrer(QByteArray()));
    essai.jouer({QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":99"))});
    QTRY_VERIFY(essai.recepteur.refusees >= 1);
    essai.jouer({QStringLiteral("10 ") + hote(QStringLiteral("\"disk\":1"))});
    QTRY_VERIFY_WITH_TIMEOUT(essai.recepteur.refusees >= 3, 10000);
    QCOMPARE(essai.enAttente(), 2);

    // Back up: each notification once, in order.
    essai.recepteur.repondre(200);
    QTRY_COMPARE_WITH_TIMEOUT(essai.enAttente(), 0, 15000);
    QCOMPARE(essai.recus(), QStringList({QStringLiteral("firing HyperviseurDisque critique"),
                                         QStringLiteral("resolved HyperviseurDisque critique")}));
    const QString nom = QStringLiteral("webhook ") + essai.recepteur.url();
    QCOMPARE(console.lignes(),
             QStringList({QStringLiteral("Notifications vers %1 impossibles : HTTP 503 Statut ; nouvel essai dans 1 s, "
                                         "puis de plus en plus espacé (au plus 5 min).")
                              .arg(nom),
                          QStringLiteral("Notifications vers %1 rétablies après %2 essai(s) manqué(s).")
                              .arg(nom)
                              .arg(essai.recepteur.refusees)}));
    const QByteArray metriques = essai.service->metriques();
    const QByteArray etiquette = "{destinataire=\"" + nom.toUtf8() + "\"} ";
    QVERIFY2(metriques.contains("\ncollecteur_notifications_envoyees_total" + etiquette + "2\n"), metriques.constData());
    QVERIFY2(metriques.contains("\ncollecteur_notifications_echouees_total" + etiquette
                                + QByteArray::number(essai.recepteur.refusees) + '\n'),
             metriques.constData());
}

void TestNotifications::rappelAlertmanager()
{
    RecepteurHttp alertmanager;
    QVERIFY(alertmanager.ecouter());
    qint64 maintenant = origine();
    ParametresAlertes parametres;
    parametres.alertmanagers = QStringList{QStringLiteral("http://127.0.0.1:%1/").arg(alertmanager.port())};
    ServiceAlertes service(parametres, [&maintenant]() { return maintenant; });
    QString erreur;
    QVERIFY(service.demarrer(QStringLiteral("http://tableau:56080"), erreur));
    RapportHyperviseur rapport;
    QVERIFY(LecteurRapport::decoder(hote(QStringLiteral("\"disk\":99,\"ram\":99")), rapport));
    service.recevoir(rapport, 10000);
    QTRY_COMPARE(alertmanager.corps.size(), 1);

    // Every minute, all that fires, without an end, under its first start.
    service.notificateur().rappeler();
    QTRY_COMPARE(alertmanager.corps.size(), 2);
    QCOMPARE(alertmanager.chemins, QStringList({QStringLiteral("/api/v2/alerts"), QStringLiteral("/api/v2/alerts")}));
    const QJsonArray rappel = QJsonDocument::fromJson(alertmanager.corps.at(1)).array();
    QCOMPARE(rappel.size(), 1);
    QCOMPARE(rappel.first().toObject().value(QStringLiteral("startsAt")).toString(), MessagesAlertes::instant(origine()));
    QVERIFY(!rappel.first().toObject().contains(QStringLiteral("endsAt")));

    maintenant += 10000;
    QVERIFY(LecteurRapport::decoder(hote(QStringLiteral("\"disk\":9")), rapport));
    service.recevoir(rapport, 10000);
    QTRY_COMPARE(alertmanager.corps.size(), 3);
    const QJsonObject fin = QJsonDocument::fromJson(alertmanager.corps.at(2)).array().first().toObject();
    QCOMPARE(fin.value(QStringLiteral("endsAt")).toString(), MessagesAlertes::instant(maintenant));
    service.notificateur().rappeler();
    QCOMPARE(service.notificateur().destinataires().first()->enAttente(), 0);
}

void TestNotifications::redemarrage_data()
{
    QTest::addColumn<QByteArray>("regles");
    QTest::addColumn<QStringList>("avant");
    QTest::addColumn<QByteArray>("reglesApres");
    QTest::addColumn<QStringList>("apres");
    QTest::addColumn<QStringList>("attendus");

    const QStringList disque{QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":99"))};
    QTest::newRow("toujours-chaud")
        << QByteArray() << disque << QByteArray()
        << QStringList{QStringLiteral("420 ") + hote(QStringLiteral("\"disk\":99")), QStringLiteral("430"),
                       QStringLiteral("440 ") + hote(QStringLiteral("\"disk\":10"))}
        << QStringList{QStringLiteral("resolved HyperviseurDisque critique")};
    QTest::newRow("refroidi-pendant-l-arret")
        << QByteArray() << disque << QByteArray() << QStringList{QStringLiteral("420 ") + hote(QStringLiteral("\"disk\":10"))}
        << QStringList{QStringLiteral("resolved HyperviseurDisque critique")};
    QTest::newRow("regle-retiree") << QByteArray() << disque << QByteArray("desactiver HyperviseurDisque\n") << QStringList()
                                   << QStringList{QStringLiteral("resolved HyperviseurDisque critique")};
    QTest::newRow("attente-muette") << QByteArray() << disque << QByteArray() << QStringList{QStringLiteral("425")}
                                    << QStringList();
    // Its condition held for the five minutes before the stop: it does not
    // wait five more after the restart, nor end meanwhile.
    const QByteArray cpu("regle HyperviseurCpu hyperviseur cpu >= 85 95 pour 5m\n");
    QTest::newRow("avec-duree")
        << cpu
        << QStringList{QStringLiteral("0 ") + hote(QStringLiteral("\"cpu\":99")), QStringLiteral("100 ") + hote(QStringLiteral("\"cpu\":99")),
                       QStringLiteral("300 ") + hote(QStringLiteral("\"cpu\":99"))}
        << cpu
        << QStringList{QStringLiteral("430"), QStringLiteral("440 ") + hote(QStringLiteral("\"cpu\":99")), QStringLiteral("450"),
                       QStringLiteral("460 ") + hote(QStringLiteral("\"cpu\":10"))}
        << QStringList{QStringLiteral("resolved HyperviseurCpu critique")};
}

void TestNotifications::redemarrage()
{
    QFETCH(QByteArray, regles);
    QFETCH(QStringList, avant);
    QFETCH(QByteArray, reglesApres);
    QFETCH(QStringList, apres);
    QFETCH(QStringList, attendus);

    QTemporaryDir dossier;
    Essai essai;
    QVERIFY(essai.demarrer(regles, dossier.path()));
    essai.jouer(avant);
    QTRY_COMPARE(essai.recus().size(), 1);
    QVERIFY(essai.recus().first().startsWith(QStringLiteral("firing ")));
    // Its answer read too: a notification stopped before its answer is
    // kept, and sent again after the restart.
    QTRY_COMPARE(essai.enAttente(), 0);
    const QString empreinte = essai.recepteur.json(0).value(QStringLiteral("alerts")).toArray().first().toObject().value(
        QStringLiteral("fingerprint")).toString();
    essai.service->arreter();
    essai.service.reset();
    essai.recepteur.corps.clear();

    // Another start, a little later, on the same state.
    essai.maintenant = origine() + 400000;
    QVERIFY(essai.demarrer(reglesApres, dossier.path()));
    essai.jouer(apres);
    QTRY_COMPARE(essai.enAttente(), 0);
    QCOMPARE(essai.recus(), attendus);
    if (!attendus.isEmpty()) {
        const QJsonObject fin = essai.recepteur.json(0).value(QStringLiteral("alerts")).toArray().first().toObject();
        QCOMPARE(fin.value(QStringLiteral("fingerprint")).toString(), empreinte);
        // Told when it ended, not earlier.
        const qint64 finAttendue = apres.isEmpty() ? 400 : apres.last().section(QLatin1Char(' '), 0, 0).toLongLong();
        QCOMPARE(fin.value(QStringLiteral("endsAt")).toString(), MessagesAlertes::instant(origine() + finAttendue * 1000));
        QCOMPARE(fin.value(QStringLiteral("startsAt")).toString(),
                 MessagesAlertes::instant(regles.isEmpty() ? origine() : origine() + 300000));
    }
    // Its spell is in the history, kept across the restart.
    const QJsonArray episodes =
        QJsonDocument::fromJson(essai.service->historique()).object().value(QStringLiteral("episodes")).toArray();
    QCOMPARE(episodes.size(), 1);
    QCOMPARE(episodes.first().toObject().value(QStringLiteral("debut")).toDouble(),
             double(regles.isEmpty() ? origine() : origine() + 300000));
    QCOMPARE(episodes.first().toObject().value(QStringLiteral("fin")).isNull(), attendus.isEmpty());
}

void TestNotifications::courriel()
{
    QTemporaryDir dossier;
    const QString sendmail = dossier.filePath(QStringLiteral("sendmail"));
    QFile script(sendmail);
    QVERIFY(script.open(QIODevice::WriteOnly));
    // Fails once, then keeps each mail and its arguments.
    script.write(QStringLiteral("#!/bin/sh\nd=%1\nif [ ! -e $d/essai ]; then touch $d/essai; exit 75; fi\n"
                                "n=$(ls $d | grep -c courriel)\necho \"$@\" > $d/arguments\ncat > $d/courriel-$n\n")
                     .arg(dossier.path())
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    CaptureErreurStandard console;
    Essai essai;
    QVERIFY(essai.demarrer(QByteArray(), QString(), {QStringLiteral("astreinte@exemple.org")}, sendmail));
    essai.jouer({QStringLiteral("0 ") + hote(QStringLiteral("\"disk\":99"))});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dossier.filePath(QStringLiteral("courriel-0"))), 10000);
    QFile courriel(dossier.filePath(QStringLiteral("courriel-0")));
    QVERIFY(courriel.open(QIODevice::ReadOnly));
    const QByteArray texte = courriel.readAll();
    QVERIFY2(texte.startsWith("To: astreinte@exemple.org\nSubject: =?UTF-8?B?"
                              + QStringLiteral("[collecteur] critique : HyperviseurDisque (critique) sur hv-1").toUtf8().toBase64()
                              + "?=\n"),
             texte.constData());
    QVERIFY2(texte.contains("\n\ncritique : HyperviseurDisque (critique) sur hv-1\nValeur 99, seuil 95"), texte.constData());
    QFile arguments(dossier.filePath(QStringLiteral("arguments")));
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QCOMPARE(arguments.readAll(), QByteArray("-t -oi\n"));
    QCOMPARE(console.lignes().value(0),
             QStringLiteral("Notifications vers courriel astreinte@exemple.org impossibles : %1 a fini avec le code 75 ; "
                            "nouvel essai dans 1 s, puis de plus en plus espacé (au plus 5 min).")
                 .arg(sendmail));
}

void TestNotifications::etatIllisible()
{
    QTemporaryDir dossier;
    QFile etat(dossier.filePath(QStringLiteral("alertes.json")));
    QVERIFY(etat.open(QIODevice::WriteOnly));
    etat.write("{\"actives\": [tronqué");
    etat.close();
    CaptureErreurStandard console;
    Essai essai;
    QVERIFY(essai.demarrer(QByteArray(), dossier.path()));
    QCOMPARE(console.lignes(),
             QStringList{QStringLiteral("État des alertes illisible (illegal value), mis de côté dans %1.illisible : les "
                                        "alertes repartent de zéro.")
                             .arg(etat.fileName())});
    QVERIFY(QFile::exists(etat.fileName() + QStringLiteral(".illisible")));
    QVERIFY(QFile::exists(etat.fileName()));

    // A state directory that cannot be made stops the start.
    QString erreur;
    ParametresAlertes parametres;
    parametres.etat = etat.fileName() + QStringLiteral("/dessous");
    ServiceAlertes service(parametres, []() { return origine(); });
    QVERIFY(!service.demarrer(QString(), erreur));
    QCOMPARE(erreur, parametres.etat + QStringLiteral(" : dossier impossible à créer"));
}

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
