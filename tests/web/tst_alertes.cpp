// SPDX-License-Identifier: MIT
#include "EvaluateurAlertes.h"
#include "LecteurRegles.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class TestAlertes : public QObject
{
    Q_OBJECT

private slots:
    void lecture();
    void lectureRefusee_data();
    void lectureRefusee();
    void fichierRefuse();
    void seuils_data();
    void seuils();
    void instabiliteEntreLesSecondes();
    void hoteSilencieux_data();
    void hoteSilencieux();
    void vmArretee_data();
    void vmArretee();
    void rechargement();
};

namespace {

// A Monday, 01:00 local time: the maintenance windows are local.
qint64 origine()
{
    return QDateTime(QDate(2026, 12, 7), QTime(1, 0)).toMSecsSinceEpoch();
}

JeuRegles jeu(const QByteArray &texte)
{
    JeuRegles lu;
    QString erreur;
    if (!LecteurRegles::lire(texte, lu, erreur))
        qFatal("%s", qPrintable(erreur));
    return lu;
}

const Regle *regle(const JeuRegles &jeu, const QString &nom)
{
    for (const Regle &r : jeu.regles) {
        if (r.nom == nom)
            return &r;
    }
    return nullptr;
}

// "t:state", with "~" when unstable and "+silence" when silenced.
QString evenement(const Alerte &alerte, qint64 debut)
{
    return QStringLiteral("%1:%2%3%4")
        .arg((alerte.depuis - debut) / 1000)
        .arg(Alerte::nomEtat(alerte.etat), alerte.instable ? QStringLiteral("~") : QString(),
             alerte.silence ? QStringLiteral("+silence") : QString());
}

struct Essai
{
    qint64 maintenant = origine();
    EvaluateurAlertes evaluateur{[this]() { return maintenant; }};
    QStringList evenements;

    explicit Essai(const JeuRegles &regles, const QString &seule = QString())
    {
        evaluateur.appliquer(regles);
        QObject::connect(&evaluateur, &EvaluateurAlertes::changement, &evaluateur, [this, seule](const Alerte &a) {
            if (seule.isEmpty() || a.alertname == seule)
                evenements.append((seule.isEmpty() ? a.alertname + QLatin1Char(' ') : QString())
                                  + (a.vm.isEmpty() ? QString() : a.vm + QLatin1Char('/')) + evenement(a, origine()));
        });
    }
    void a(qint64 secondes) { maintenant = origine() + secondes * 1000; }
};

} // namespace

void TestAlertes::lecture()
{
    const JeuRegles lu = jeu("# commentaire\n"
                             "regle HyperviseurCpu hyperviseur cpu >= 80 90 pour 5m   # plus tôt\n"
                             "\tregle VmRam vm ram >= 4000000 - pour 30s retour 3500000\n"
                             "regle ReseauMuet hyperviseur network <= 1 0.1 pour 2h\n"
                             "desactiver VmCpu\n"
                             "desactiver HyperviseurInjoignable\n"
                             "maintenance hv-* du 2026-12-24 20:00 au 2026-12-26 08:00\n"
                             "maintenance hv-sauvegarde chaque dimanche 23:00-01:00\n");
    QCOMPARE(lu.regles.size(), Regle::parDefaut().size() + 2);
    const Regle *cpu = regle(lu, QStringLiteral("HyperviseurCpu"));
    QVERIFY(cpu);
    QCOMPARE(cpu->avertissement, 80.0);
    QCOMPARE(cpu->critique, 90.0);
    QCOMPARE(cpu->pour, qint64(300000));
    QCOMPARE(cpu->retourDe(EtatAlerte::Avertissement), 75.0);
    QCOMPARE(cpu->retourDe(EtatAlerte::Critique), 85.0);
    const Regle *vmRam = regle(lu, QStringLiteral("VmRam"));
    QVERIFY(vmRam);
    QCOMPARE(vmRam->type, TypeRegle::MesureVm);
    QVERIFY(std::isnan(vmRam->critique));
    QCOMPARE(vmRam->pour, qint64(30000));
    QCOMPARE(vmRam->retourDe(EtatAlerte::Avertissement), 3500000.0);
    const Regle *reseau = regle(lu, QStringLiteral("ReseauMuet"));
    QVERIFY(reseau);
    QCOMPARE(reseau->sens, -1);
    QCOMPARE(reseau->retourDe(EtatAlerte::Avertissement), 6.0);
    QVERIFY(!regle(lu, QStringLiteral("VmCpu"))->active);
    QVERIFY(!regle(lu, QStringLiteral("HyperviseurInjoignable"))->active);
    QVERIFY(regle(lu, QStringLiteral("VmArretee"))->active);

    QCOMPARE(lu.maintenances.size(), 2);
    const auto instant = [](int jour, int heure, int minute) {
        return QDateTime(QDate(2026, 12, jour), QTime(heure, minute)).toMSecsSinceEpoch();
    };
    QVERIFY(lu.maintenances.at(0).couvre(QStringLiteral("hv-12"), instant(25, 12, 0)));
    QVERIFY(!lu.maintenances.at(0).couvre(QStringLiteral("hv-12"), instant(26, 8, 0)));
    QVERIFY(!lu.maintenances.at(0).couvre(QStringLiteral("autre"), instant(25, 12, 0)));
    // Sunday 13 December 23:30 and Monday 00:30; not Saturday 23:30.
    QVERIFY(lu.maintenances.at(1).couvre(QStringLiteral("hv-sauvegarde"), instant(13, 23, 30)));
    QVERIFY(lu.maintenances.at(1).couvre(QStringLiteral("hv-sauvegarde"), instant(14, 0, 30)));
    QVERIFY(!lu.maintenances.at(1).couvre(QStringLiteral("hv-sauvegarde"), instant(14, 1, 0)));
    QVERIFY(!lu.maintenances.at(1).couvre(QStringLiteral("hv-sauvegarde"), instant(12, 23, 30)));
    // A name is a whole name, not a part of one.
    QVERIFY(!lu.maintenances.at(1).couvre(QStringLiteral("hv-sauvegarde-2"), instant(13, 23, 30)));
}

void TestAlertes::lectureRefusee_data()
{
    QTest::addColumn<QByteArray>("texte");
    QTest::addColumn<QString>("erreur");

    QTest::newRow("mot-inconnu") << QByteArray("\n\nalerte X\n")
                                 << QStringLiteral("ligne 4 : « regle », « desactiver » ou « maintenance » attendu au lieu de « alerte »");
    QTest::newRow("mesure-inconnue") << QByteArray("# x\nregle X hyperviseur cpux >= 1 2\n")
                                     << QStringLiteral("ligne 3 : mesure inconnue « cpux »");
    QTest::newRow("etat-vm") << QByteArray("regle X vm state >= 5 6\n") << QStringLiteral("ligne 2 : mesure inconnue « state »");
    QTest::newRow("cible") << QByteArray("regle X hote cpu >= 1 2\n")
                           << QStringLiteral("ligne 2 : « hyperviseur » ou « vm » attendu au lieu de « hote »");
    QTest::newRow("trop-court") << QByteArray("regle X hyperviseur cpu >= 1\n")
                                << QStringLiteral("ligne 2 : attendu : regle NOM hyperviseur|vm MESURE >=|<= AVERTISSEMENT "
                                                  "CRITIQUE [pour DUREE] [retour VALEUR]");
    QTest::newRow("operateur") << QByteArray("regle X hyperviseur cpu > 1 2\n")
                               << QStringLiteral("ligne 2 : « >= » ou « <= » attendu au lieu de « > »");
    QTest::newRow("nombre") << QByteArray("regle X hyperviseur cpu >= 8O 90\n")
                            << QStringLiteral("ligne 2 : nombre ou « - » attendu au lieu de « 8O »");
    QTest::newRow("sans-seuil") << QByteArray("regle X hyperviseur cpu >= - -\n")
                                << QStringLiteral("ligne 2 : un seuil au moins est attendu");
    QTest::newRow("critique-en-deca") << QByteArray("regle X hyperviseur cpu >= 90 80\n")
                                      << QStringLiteral("ligne 2 : le seuil critique doit être au-delà de l'avertissement");
    QTest::newRow("retour-au-dela") << QByteArray("regle X hyperviseur cpu >= 80 90 retour 85\n")
                                    << QStringLiteral("ligne 2 : la valeur de retour doit être en deçà du seuil");
    QTest::newRow("duree") << QByteArray("regle X hyperviseur cpu >= 80 90 pour 10min\n")
                           << QStringLiteral("ligne 2 : durée attendue (30s, 10m, 2h) au lieu de « 10min »");
    QTest::newRow("option-seule") << QByteArray("regle X hyperviseur cpu >= 80 90 pour\n")
                                  << QStringLiteral("ligne 2 : valeur attendue après « pour »");
    QTest::newRow("speciale") << QByteArray("regle VmArretee vm cpu >= 1 2\n")
                              << QStringLiteral("ligne 2 : « VmArretee » est une règle spéciale : seul « desactiver VmArretee » "
                                                "s'y applique");
    QTest::newRow("desactiver-inconnue") << QByteArray("desactiver HyperviseurGpu\n")
                                         << QStringLiteral("ligne 2 : règle inconnue « HyperviseurGpu »");
    QTest::newRow("maintenance-date") << QByteArray("maintenance hv du 2026-13-01 00:00 au 2026-12-02 00:00\n")
                                      << QStringLiteral("ligne 2 : date AAAA-MM-JJ HH:MM attendue au lieu de « 2026-13-01 00:00 »");
    QTest::newRow("maintenance-a-rebours") << QByteArray("maintenance hv du 2026-12-02 00:00 au 2026-12-01 00:00\n")
                                           << QStringLiteral("ligne 2 : la fin doit suivre le début");
    QTest::newRow("maintenance-jour") << QByteArray("maintenance hv chaque lundy 02:00-04:00\n")
                                      << QStringLiteral("ligne 2 : jour de la semaine ou « jour » attendu au lieu de « lundy »");
    QTest::newRow("maintenance-heure") << QByteArray("maintenance hv chaque lundi 02:00-24:00\n")
                                       << QStringLiteral("ligne 2 : heure HH:MM attendue au lieu de « 24:00 »");
}

void TestAlertes::lectureRefusee()
{
    QFETCH(QByteArray, texte);
    QFETCH(QString, erreur);

    // All or nothing: the rules in force stay as they were.
    JeuRegles enVigueur = jeu("desactiver VmCpu\n");
    QString lue;
    QVERIFY(!LecteurRegles::lire("desactiver HyperviseurCpu\n" + texte, enVigueur, lue));
    QCOMPARE(lue, erreur);
    QVERIFY(regle(enVigueur, QStringLiteral("HyperviseurCpu"))->active);
    QVERIFY(!regle(enVigueur, QStringLiteral("VmCpu"))->active);
}

void TestAlertes::fichierRefuse()
{
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(QStringLiteral("regles"));
    JeuRegles lu;
    QString erreur;
    QVERIFY(!LecteurRegles::lireFichier(chemin, lu, erreur));
    QCOMPARE(erreur, chemin + QStringLiteral(" : No such file or directory"));
    QFile fichier(chemin);
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write("desactiver VmCpu\nregle X hyperviseur cpu >= 90 80\n");
    fichier.close();
    QVERIFY(!LecteurRegles::lireFichier(chemin, lu, erreur));
    QCOMPARE(erreur, chemin + QStringLiteral(", ligne 2 : le seuil critique doit être au-delà de l'avertissement"));
}

namespace {

// "t:v" pairs, seconds from the origin.
QString serie(int debut, int fin, int pas, double valeur)
{
    QStringList paires;
    for (int t = debut; t <= fin; t += pas)
        paires.append(QStringLiteral("%1:%2").arg(t).arg(valeur));
    return paires.join(QLatin1Char(' '));
}

RapportHyperviseur rapport(const QString &mesure, double valeur)
{
    RapportHyperviseur r;
    r.nom = QStringLiteral("hv-1");
    for (const auto &champ : champsHyperviseur) {
        if (champ.cle == mesure)
            r.*champ.valeur = valeur;
    }
    return r;
}

} // namespace

void TestAlertes::seuils_data()
{
    QTest::addColumn<QByteArray>("regles");
    QTest::addColumn<QString>("alertname");
    QTest::addColumn<QString>("mesure");
    QTest::addColumn<QString>("valeurs");
    QTest::addColumn<QStringList>("attendus");
    QTest::addColumn<int>("impossibles");

    const QString cpu = QStringLiteral("HyperviseurCpu");
    const QString disque = QStringLiteral("HyperviseurDisque");
    QTest::newRow("pour-tenu") << QByteArray() << cpu << QStringLiteral("cpu") << serie(0, 900, 60, 90)
                               << QStringList{QStringLiteral("600:avertissement")} << 0;
    QTest::newRow("pour-interrompu") << QByteArray() << cpu << QStringLiteral("cpu")
                                     << QStringLiteral("0:90 300:90 330:50 360:90 900:90 959:90 960:90")
                                     << QStringList{QStringLiteral("960:avertissement")} << 0;
    QTest::newRow("pour-critique") << QByteArray() << cpu << QStringLiteral("cpu") << serie(0, 600, 60, 96)
                                   << QStringList{QStringLiteral("600:critique")} << 0;
    QTest::newRow("frole-le-seuil") << QByteArray() << disque << QStringLiteral("disk")
                                    << QStringLiteral("0:85 10:84.9 20:85.1 30:84 40:86 50:85 60:81 70:80.5 80:80 90:84.9")
                                    << QStringList{QStringLiteral("0:avertissement"), QStringLiteral("80:ok")} << 0;
    QTest::newRow("critique-et-retour") << QByteArray() << disque << QStringLiteral("disk")
                                        << QStringLiteral("0:96 10:92 20:90.5 30:90 40:81 50:79")
                                        << QStringList{QStringLiteral("0:critique"), QStringLiteral("30:avertissement"),
                                                       QStringLiteral("50:ok")}
                                        << 0;
    QTest::newRow("retour-donne") << QByteArray("regle HyperviseurDisque hyperviseur disk >= 85 95 retour 70\n") << disque
                                  << QStringLiteral("disk") << QStringLiteral("0:90 10:75 20:70")
                                  << QStringList{QStringLiteral("0:avertissement"), QStringLiteral("20:ok")} << 0;
    QTest::newRow("inferieur") << QByteArray("regle DisqueVide hyperviseur disk <= 10 5\n") << QStringLiteral("DisqueVide")
                               << QStringLiteral("disk") << QStringLiteral("0:12 10:9 20:4 30:8 40:12 50:16")
                               << QStringList{QStringLiteral("10:avertissement"), QStringLiteral("20:critique"),
                                              QStringLiteral("40:avertissement"), QStringLiteral("50:ok")}
                               << 0;
    QTest::newRow("temperature-impossible")
        << QByteArray() << QStringLiteral("HyperviseurTemperatureCpu") << QStringLiteral("cputemp")
        << QStringLiteral("0:3892314 10:50 20:-41")
        << QStringList{QStringLiteral("0:inconnu"), QStringLiteral("10:ok"), QStringLiteral("20:inconnu")} << 2;
    QTest::newRow("temperature-impossible-tenue")
        << QByteArray() << QStringLiteral("HyperviseurTemperatureCpu") << QStringLiteral("cputemp")
        << serie(0, 300, 10, 3892314) << QStringList{QStringLiteral("0:inconnu")} << 31;
    QTest::newRow("pourcentage-impossible") << QByteArray() << disque << QStringLiteral("disk") << QStringLiteral("0:101")
                                            << QStringList{QStringLiteral("0:inconnu")} << 1;
    QTest::newRow("absente") << QByteArray() << disque << QStringLiteral("cpu") << QStringLiteral("0:99")
                             << QStringList() << 0;
    // Six changes in twenty evaluations: the sixth is told as unstable, the
    // next ones not at all, and twenty evaluations without a change end it.
    QTest::newRow("instable") << QByteArray() << disque << QStringLiteral("disk")
                              << QStringLiteral("0:90 10:70 20:90 30:70 40:90 50:70 60:90 70:70 80:90 90:70 ") + serie(100, 400, 10, 70)
                              << QStringList{QStringLiteral("0:avertissement"), QStringLiteral("10:ok"),
                                             QStringLiteral("20:avertissement"), QStringLiteral("30:ok"),
                                             QStringLiteral("40:avertissement"), QStringLiteral("50:ok~"),
                                             QStringLiteral("90:ok")}
                              << 0;
    // The origin is a Monday, 01:00.
    QTest::newRow("maintenance") << QByteArray("maintenance hv-* chaque lundi 00:30-02:00\n") << disque
                                 << QStringLiteral("disk") << QStringLiteral("0:90 3590:90 3600:90 3610:70")
                                 << QStringList{QStringLiteral("0:avertissement+silence"), QStringLiteral("0:avertissement"),
                                                QStringLiteral("3610:ok")}
                                 << 0;
    QTest::newRow("maintenance-autre-hote") << QByteArray("maintenance hv-2 chaque jour 00:00-23:59\n") << disque
                                            << QStringLiteral("disk") << QStringLiteral("0:90")
                                            << QStringList{QStringLiteral("0:avertissement")} << 0;
}

void TestAlertes::seuils()
{
    QFETCH(QByteArray, regles);
    QFETCH(QString, alertname);
    QFETCH(QString, mesure);
    QFETCH(QString, valeurs);
    QFETCH(QStringList, attendus);
    QFETCH(int, impossibles);

    Essai essai(jeu(regles), alertname);
    for (const QString &paire : valeurs.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        essai.a(paire.section(QLatin1Char(':'), 0, 0).toLongLong());
        essai.evaluateur.recevoir(rapport(mesure, paire.section(QLatin1Char(':'), 1).toDouble()), 10000);
    }
    QCOMPARE(essai.evenements, attendus);
    QCOMPARE(essai.evaluateur.valeursImpossibles(), quint64(impossibles));
}

namespace {

RapportVM vm(const QString &nom, int etat, double cpu = 10)
{
    RapportVM v;
    v.nom = nom;
    v.etat = etat;
    v.cpu = cpu;
    return v;
}

} // namespace

void TestAlertes::instabiliteEntreLesSecondes()
{
    // The clock's ticks between reports do not dilute a host that flaps at each one.
    Essai essai(JeuRegles{}, QStringLiteral("HyperviseurDisque"));
    for (int t = 0; t < 100; ++t) {
        essai.a(t);
        if (t % 10 == 0)
            essai.evaluateur.recevoir(rapport(QStringLiteral("disk"), t % 20 == 0 ? 90 : 70), 10000);
        else
            essai.evaluateur.evaluer();
    }
    QCOMPARE(essai.evenements, (QStringList{QStringLiteral("0:avertissement"), QStringLiteral("10:ok"),
                                            QStringLiteral("20:avertissement"), QStringLiteral("30:ok"),
                                            QStringLiteral("40:avertissement"), QStringLiteral("50:ok~")}));
}

void TestAlertes::hoteSilencieux_data()
{
    QTest::addColumn<int>("ecart");         // seconds between its two reports
    QTest::addColumn<qint64>("intervalle"); // as the fleet measured it, ms
    QTest::addColumn<int>("limite");        // seconds of silence allowed

    QTest::newRow("10s") << 10 << qint64(10000) << 30;
    QTest::newRow("20s") << 20 << qint64(20000) << 60;
    QTest::newRow("inconnu") << 10 << qint64(0) << 30;
    QTest::newRow("1s-au-moins-30s") << 1 << qint64(1000) << 30;
}

void TestAlertes::hoteSilencieux()
{
    QFETCH(int, ecart);
    QFETCH(qint64, intervalle);
    QFETCH(int, limite);

    // A hot host whose VMs are busy goes silent: one alert, for the host,
    // however long the silence outlasts its rules' durations.
    Essai essai(JeuRegles{});
    RapportHyperviseur r = rapport(QStringLiteral("cpu"), 99);
    r.vms = {vm(QStringLiteral("vm-1"), 1, 99), vm(QStringLiteral("vm-2"), 1, 99)};
    essai.evaluateur.recevoir(r, 0);
    essai.a(ecart);
    essai.evaluateur.recevoir(r, intervalle);
    essai.a(ecart + limite);
    essai.evaluateur.evaluer();
    QCOMPARE(essai.evenements, QStringList());
    essai.a(ecart + limite + 1);
    essai.evaluateur.evaluer();
    for (int t = ecart + limite + 60; t < 3600; t += 60) {
        essai.a(t);
        essai.evaluateur.evaluer();
    }
    const QString injoignable = QStringLiteral("HyperviseurInjoignable %1:critique").arg(ecart + limite + 1);
    QCOMPARE(essai.evenements, QStringList{injoignable});
    QCOMPARE(essai.evaluateur.actives().size(), 1);
    QCOMPARE(essai.evaluateur.actives().at(0).alertname, QStringLiteral("HyperviseurInjoignable"));
    QCOMPARE(essai.evaluateur.actives().at(0).seuil, double(limite));

    // Back without vm-2: the silence ends, the gone VM is told, and the hot
    // host's duration starts again.
    essai.a(3600);
    r.vms.removeLast();
    essai.evaluateur.recevoir(r, intervalle);
    QCOMPARE(essai.evenements, (QStringList{injoignable, QStringLiteral("HyperviseurInjoignable 3600:ok"),
                                            QStringLiteral("VmArretee vm-2/3600:avertissement")}));
}

void TestAlertes::vmArretee_data()
{
    QTest::addColumn<QString>("etats"); // vm-1's libvirt state in each report, "-" when absent
    QTest::addColumn<QStringList>("attendus");

    QTest::newRow("arretee") << QStringLiteral("1 5") << QStringList{QStringLiteral("vm-1/10:avertissement")};
    QTest::newRow("plantee") << QStringLiteral("1 6") << QStringList{QStringLiteral("vm-1/10:critique")};
    QTest::newRow("disparue") << QStringLiteral("1 -") << QStringList{QStringLiteral("vm-1/10:avertissement")};
    QTest::newRow("jamais-en-marche") << QStringLiteral("5 6 -") << QStringList();
    QTest::newRow("en-pause") << QStringLiteral("1 3 1") << QStringList();
    QTest::newRow("relancee") << QStringLiteral("1 5 1")
                              << QStringList{QStringLiteral("vm-1/10:avertissement"), QStringLiteral("vm-1/20:ok")};
    QTest::newRow("plantee-puis-arretee") << QStringLiteral("1 6 5")
                                          << QStringList{QStringLiteral("vm-1/10:critique"),
                                                         QStringLiteral("vm-1/20:avertissement")};
}

void TestAlertes::vmArretee()
{
    QFETCH(QString, etats);
    QFETCH(QStringList, attendus);

    Essai essai(JeuRegles{}, QStringLiteral("VmArretee"));
    int t = 0;
    for (const QString &etat : etats.split(QLatin1Char(' '))) {
        essai.a(t);
        RapportHyperviseur r = rapport(QStringLiteral("cpu"), 10);
        r.vms.append(vm(QStringLiteral("vm-0"), 1));
        if (etat != QLatin1String("-"))
            r.vms.append(vm(QStringLiteral("vm-1"), etat.toInt()));
        essai.evaluateur.recevoir(r, 10000);
        t += 10;
    }
    QCOMPARE(essai.evenements, attendus);
}

void TestAlertes::rechargement()
{
    // A rule the new file turns off ends; one it keeps keeps its state.
    Essai essai(JeuRegles{});
    RapportHyperviseur r = rapport(QStringLiteral("disk"), 99);
    r.cputemp = 3892314;
    essai.evaluateur.recevoir(r, 10000);
    QCOMPARE(essai.evenements, (QStringList{QStringLiteral("HyperviseurDisque 0:critique"),
                                            QStringLiteral("HyperviseurTemperatureCpu 0:inconnu")}));
    essai.a(10);
    essai.evaluateur.appliquer(jeu("desactiver HyperviseurTemperatureCpu\n"));
    QCOMPARE(essai.evenements.mid(2), QStringList{QStringLiteral("HyperviseurTemperatureCpu 10:ok")});
    const QVector<Alerte> actives = essai.evaluateur.actives();
    QCOMPARE(actives.size(), 1);
    QCOMPARE(actives.at(0).alertname, QStringLiteral("HyperviseurDisque"));
    QCOMPARE(actives.at(0).depuis, origine());
    QCOMPARE(actives.at(0).valeur, 99.0);
    QCOMPARE(actives.at(0).seuil, 95.0);
}

QTEST_GUILESS_MAIN(TestAlertes)
#include "tst_alertes.moc"
