// SPDX-License-Identifier: MIT
#include "ClientAffichage.h"
#include "FichierCles.h"
#include "ProcessusCollecteur.h"
#include "SignatureRapport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

// The real collector with keys, the real simulator signing its reports, and
// datagrams an intruder on the network could send.
class TestCollecteurSigne : public QObject
{
    Q_OBJECT

private slots:
    void seulsLesAgentsSignes();
    void clesLisiblesParTous();
    void afficheursPermis();
};

namespace {

QByteArray cleDe(const QString &ligne)
{
    return QByteArray::fromBase64(ligne.section(QLatin1Char(' '), 1).toLatin1());
}

QByteArray signe(quint32 sequence, const QByteArray &texte, const QByteArray &cle, qint64 horodatage)
{
    QByteArray d = datagramme(sequence, texte);
    SignatureRapport::signer(d, cle, horodatage);
    return d;
}

QString ecrireCles(const QString &chemin, const QStringList &lignes)
{
    QFile fichier(chemin);
    fichier.open(QIODevice::WriteOnly);
    fichier.write(lignes.join(QLatin1Char('\n')).toUtf8() + '\n');
    fichier.close();
    fichier.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return chemin;
}

QString refus(const QString &raison)
{
    return QStringLiteral("\"127.0.0.5 : 1 rapport(s) refusé(s), %1.\" ").arg(raison);
}

} // namespace

void TestCollecteurSigne::seulsLesAgentsSignes()
{
    QTemporaryDir dossier;
    // hv-lab-01's key is being replaced: the old one still works meanwhile.
    const QString ancienne = FichierCles::nouvelleLigne(QStringLiteral("hv-lab-01"));
    const QString nouvelle = FichierCles::nouvelleLigne(QStringLiteral("hv-lab-01"));
    const QString deuxieme = FichierCles::nouvelleLigne(QStringLiteral("hv-lab-02"));
    const QString cles = ecrireCles(dossier.filePath(QStringLiteral("cles")), {ancienne, nouvelle, deuxieme});

    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port), QStringLiteral("--cles=") + cles});
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("\"Rapports signés exigés : clés de 2 hôte(s) lues dans %1, écart "
                                                     "d'heure permis 120 s.\" ")
                                          .arg(cles)),
             qPrintable(collecteur.console()));
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    ClientAffichage client;
    QVERIFY2(client.connecter(), qPrintable(client.erreur()));
    QTRY_VERIFY_WITH_TIMEOUT(collecteur.lignes().filter(QStringLiteral("Nouvelle connexion :  ")).size() == 1, 10000);

    // The real simulator signs with the newest key of each host.
    QProcess agent;
    agent.start(QStringLiteral(AGENT_BINAIRE), {QStringLiteral("--port=%1").arg(port), QStringLiteral("--hyperviseurs=2"),
                                                QStringLiteral("--nombre=3"), QStringLiteral("--rythme=20"),
                                                QStringLiteral("--silencieux"), QStringLiteral("--cle=") + cles});
    QVERIFY(agent.waitForFinished(30000));
    QCOMPARE(agent.exitCode(), 0);
    QVERIFY2(client.attendreRapports(6), qPrintable(collecteur.console()));

    // What someone else on the network might send, from 127.0.0.5.
    QUdpSocket intrus;
    QVERIFY(intrus.bind(QHostAddress(QStringLiteral("127.0.0.5")), 0));
    const qint64 maintenant = SignatureRapport::maintenant();
    const QByteArray texte = rapport(QStringLiteral("hv-lab-01"), 1);
    QByteArray change = signe(1, texte, cleDe(nouvelle), maintenant);
    change[12] = char(change.at(12) ^ 0x20);
    const QByteArray capture = signe(2, texte, cleDe(ancienne), maintenant);
    const QList<QPair<QByteArray, QString>> envois{
        {datagramme(1, texte), refus(QStringLiteral("sans signature"))},
        {signe(1, texte, cleDe(deuxieme), maintenant), refus(QStringLiteral("signature fausse"))},
        {change, refus(QStringLiteral("signature fausse"))},
        {signe(1, rapport(QStringLiteral("hv-inconnu"), 1), cleDe(nouvelle), maintenant), refus(QStringLiteral("hôte sans clé"))},
        {signe(1, texte, cleDe(nouvelle), maintenant - 600000000), refus(QStringLiteral("trop ancien"))},
        {capture, QString()},
        {capture, refus(QStringLiteral("déjà reçu"))},
    };
    for (const auto &envoi : envois) {
        intrus.writeDatagram(envoi.first, QHostAddress::LocalHost, port);
        if (!envoi.second.isEmpty())
            QVERIFY2(collecteur.attendreLigne(envoi.second), qPrintable(collecteur.console()));
    }
    // Only the captured datagram, the first time, under the old key, reached the display.
    QVERIFY2(client.attendreRapports(7), qPrintable(collecteur.console()));
    QCOMPARE(client.rapports().at(6), QString::fromLatin1(texte));
    QCOMPARE(collecteur.lignes().filter(QStringLiteral("signature fausse")).size(), 1);
    QVERIFY(collecteur.lignes().filter(QStringLiteral("paquet(s) perdu(s)")).isEmpty());

    QVERIFY(collecteur.arreter());
    const auto fichiers = sauvegardes(collecteur.dossier());
    QCOMPARE(fichiers.size(), 1);
    const QStringList stockes = hyperviseursSauvegardes(fichiers.first().first);
    QCOMPARE(stockes.size(), 7);
    QCOMPARE(stockes.filter(QStringLiteral("hv-lab-01/")).size(), 4);
    QCOMPARE(stockes.filter(QStringLiteral("hv-lab-02/")).size(), 3);
}

void TestCollecteurSigne::clesLisiblesParTous()
{
    QTemporaryDir dossier;
    const QString cles = ecrireCles(dossier.filePath(QStringLiteral("cles")), {FichierCles::nouvelleLigne(QStringLiteral("hv"))});
    QVERIFY(QFile::setPermissions(cles, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port), QStringLiteral("--cles=") + cles});
    QVERIFY(collecteur.processus().waitForFinished(10000));
    QCOMPARE(collecteur.processus().exitCode(), 1);
    QVERIFY2(collecteur.lignes().contains(QStringLiteral("\"Clés illisibles : %1 : lisible ou modifiable par d'autres "
                                                         "utilisateurs (droits 604), chmod 640 attendu.\" ")
                                              .arg(cles)),
             qPrintable(collecteur.console()));
    QVERIFY(sauvegardes(collecteur.dossier()).isEmpty());
}

void TestCollecteurSigne::afficheursPermis()
{
    const quint16 port = portUdpLibre();
    ProcessusCollecteur collecteur({QStringLiteral("--port=%1").arg(port), QStringLiteral("--afficheurs=127.0.0.1/32")});
    QVERIFY2(collecteur.attendreDemarrage(port), qPrintable(collecteur.console()));
    QVERIFY(collecteur.lignes().contains(QStringLiteral("\"Clients d'affichage permis depuis : 127.0.0.1/32.\" ")));

    ClientAffichage dehors;
    QVERIFY2(dehors.connecter(QHostAddress(QStringLiteral("127.0.0.2"))), qPrintable(dehors.erreur()));
    QVERIFY(dehors.fermee());
    QVERIFY2(collecteur.attendreLigne(QStringLiteral("\"Client d'affichage refusé : 127.0.0.2 hors des réseaux permis "
                                                     "(--afficheurs) ; 1 refusé(s) depuis la dernière ligne, 1 en tout.\" ")),
             qPrintable(collecteur.console()));
    ClientAffichage dedans;
    QVERIFY2(dedans.connecter(QHostAddress(QStringLiteral("127.0.0.1"))), qPrintable(dedans.erreur()));
    QUdpSocket agent;
    agent.writeDatagram(datagramme(1, rapport(QStringLiteral("hv-1"), 1)), QHostAddress::LocalHost, port);
    QVERIFY2(dedans.attendreRapports(1), qPrintable(collecteur.console()));
    QVERIFY(dehors.rapports().isEmpty());
    QVERIFY(collecteur.arreter());
}

QTEST_GUILESS_MAIN(TestCollecteurSigne)
#include "tst_collecteursigne.moc"
