// SPDX-License-Identifier: MIT
#include "CaptureErreurStandard.h"
#include "ComptesHttp.h"
#include "ControleAcces.h"
#include "EmpreinteEssai.h"
#include "LimiteEchecs.h"

#include <QTemporaryDir>
#include <QTest>

class TestControleAcces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lecture_data();
    void lecture();
    void verification_data();
    void verification();
    void empreinteChangee();
    void limite();
    void journalParMinute();
    void autorisation_data();
    void autorisation();
    void blocage();

private:
    QString ecrire(const QByteArray &texte);

    QTemporaryDir m_dossier;
    QByteArray m_bcrypt;
    QByteArray m_yescrypt;
    int m_fichiers = 0;
};

namespace {

QByteArray basic(const QByteArray &nom, const QByteArray &motDePasse)
{
    return "Basic " + (nom + ':' + motDePasse).toBase64();
}

} // namespace

void TestControleAcces::initTestCase()
{
    m_bcrypt = empreinteEssai("$2b$", "secret");
    m_yescrypt = empreinteEssai("$y$", "mot de passe é");
    QVERIFY2(m_bcrypt.startsWith("$2b$05$"), m_bcrypt.constData());
    QVERIFY2(m_yescrypt.startsWith("$y$"), m_yescrypt.constData());
}

QString TestControleAcces::ecrire(const QByteArray &texte)
{
    const QString chemin = m_dossier.filePath(QStringLiteral("utilisateurs-%1").arg(++m_fichiers));
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::WriteOnly) || fichier.write(texte) != texte.size())
        return QString();
    return chemin;
}

void TestControleAcces::lecture_data()
{
    QTest::addColumn<QByteArray>("texte");
    QTest::addColumn<int>("nombre");
    // After the file's path; empty when the file is taken.
    QTest::addColumn<QString>("erreur");

    QTest::newRow("commentaires") << QByteArray("# équipe\n\n  alice:B  \n\t\nbob:Y\n") << 2 << QString();
    // htpasswd -B writes $2y$, the same algorithm.
    QTest::newRow("htpasswd") << QByteArray("alice:2Y\n") << 1 << QString();
    QTest::newRow("sans-fin-de-ligne") << QByteArray("alice:B") << 1 << QString();
    QTest::newRow("sans-deux-points") << QByteArray("# x\nalice\n") << 0 << QStringLiteral(", ligne 2 : nom:empreinte attendu");
    QTest::newRow("nom-vide") << QByteArray(":B\n") << 0 << QStringLiteral(", ligne 1 : nom:empreinte attendu");
    QTest::newRow("en-clair") << QByteArray("alice:secret\n") << 0
                              << QStringLiteral(", ligne 1 : empreinte non reconnue (yescrypt $y$ ou bcrypt $2b$ attendue)");
    QTest::newRow("md5") << QByteArray("alice:$1$abcdefgh$0123456789abcdefghijkl\n") << 0
                         << QStringLiteral(", ligne 1 : empreinte non reconnue (yescrypt $y$ ou bcrypt $2b$ attendue)");
    QTest::newRow("yescrypt-sans-hash") << QByteArray("alice:$y$j9T$abcdefgh$\n") << 0
                                        << QStringLiteral(", ligne 1 : empreinte non reconnue (yescrypt $y$ ou bcrypt $2b$ attendue)");
    QTest::newRow("bcrypt-tronque") << QByteArray("alice:B-\n") << 0
                                    << QStringLiteral(", ligne 1 : empreinte non reconnue (yescrypt $y$ ou bcrypt $2b$ attendue)");
    QTest::newRow("nom-double") << QByteArray("alice:B\nbob:Y\nalice:Y\n") << 0 << QStringLiteral(", ligne 3 : « alice » déjà donné");
    QTest::newRow("nom-espace") << QByteArray("alice b:B\n") << 0 << QStringLiteral(", ligne 1 : nom invalide");
    QTest::newRow("vide") << QByteArray("# personne\n") << 0 << QStringLiteral(" : aucun utilisateur");
}

void TestControleAcces::lecture()
{
    QFETCH(QByteArray, texte);
    QFETCH(int, nombre);
    QFETCH(QString, erreur);

    QByteArray bcryptY = m_bcrypt;
    bcryptY[2] = 'y';
    texte.replace(":2Y", ":" + bcryptY).replace(":B-", ":" + m_bcrypt.left(40)).replace(":B", ":" + m_bcrypt).replace(":Y", ":" + m_yescrypt);
    const QString chemin = ecrire(texte);
    ComptesHttp comptes;
    QString lue;
    QCOMPARE(comptes.lire(chemin, lue), erreur.isEmpty());
    if (erreur.isEmpty()) {
        QCOMPARE(comptes.nombre(), nombre);
        QVERIFY(comptes.connu(QStringLiteral("alice")));
    } else {
        QCOMPARE(lue, chemin + erreur);
    }
}

void TestControleAcces::verification_data()
{
    QTest::addColumn<QString>("nom");
    QTest::addColumn<QByteArray>("motDePasse");
    QTest::addColumn<int>("issue");

    QTest::newRow("bcrypt") << QStringLiteral("alice") << QByteArray("secret") << int(ComptesHttp::Accepte);
    QTest::newRow("yescrypt-utf8") << QStringLiteral("bob") << QByteArray("mot de passe é") << int(ComptesHttp::Accepte);
    QTest::newRow("faux") << QStringLiteral("alice") << QByteArray("secreT") << int(ComptesHttp::MotDePasseFaux);
    QTest::newRow("debut") << QStringLiteral("alice") << QByteArray("secre") << int(ComptesHttp::MotDePasseFaux);
    QTest::newRow("vide") << QStringLiteral("alice") << QByteArray() << int(ComptesHttp::MotDePasseFaux);
    // crypt(3) stops at a NUL: what follows must not be ignored.
    QTest::newRow("nul") << QStringLiteral("alice") << QByteArray("secret\0x", 8) << int(ComptesHttp::MotDePasseFaux);
    QTest::newRow("mot-de-passe-d-un-autre") << QStringLiteral("bob") << QByteArray("secret") << int(ComptesHttp::MotDePasseFaux);
    QTest::newRow("inconnu") << QStringLiteral("carole") << QByteArray("secret") << int(ComptesHttp::UtilisateurInconnu);
    QTest::newRow("casse-du-nom") << QStringLiteral("Alice") << QByteArray("secret") << int(ComptesHttp::UtilisateurInconnu);
}

void TestControleAcces::verification()
{
    QFETCH(QString, nom);
    QFETCH(QByteArray, motDePasse);
    QFETCH(int, issue);

    ComptesHttp comptes;
    QString erreur;
    QVERIFY2(comptes.lire(ecrire("alice:" + m_bcrypt + "\nbob:" + m_yescrypt + "\n"), erreur), qPrintable(erreur));
    // The second time is answered from what the first one left.
    QCOMPARE(int(comptes.verifier(nom, motDePasse)), issue);
    QCOMPARE(int(comptes.verifier(nom, motDePasse)), issue);
}

void TestControleAcces::empreinteChangee()
{
    // A remembered pair is only good for the hash it was checked against.
    const QString chemin = ecrire("alice:" + m_bcrypt + "\n");
    ControleAcces controle([]() { return qint64(0); });
    QString erreur;
    QVERIFY2(controle.lire(chemin, erreur), qPrintable(erreur));
    ReponseHttp refus;
    QVERIFY(controle.autoriser(QStringLiteral("/"), basic("alice", "secret"), QStringLiteral("192.0.2.1"), refus));
    QFile fichier(chemin);
    QVERIFY(fichier.open(QIODevice::WriteOnly | QIODevice::Truncate));
    fichier.write("alice:" + empreinteEssai("$2b$", "nouveau") + "\n");
    fichier.close();
    QCOMPARE(controle.relire(), QStringLiteral("Utilisateurs relus dans %1 : 1.").arg(chemin));
    CaptureErreurStandard console;
    QVERIFY(!controle.autoriser(QStringLiteral("/"), basic("alice", "secret"), QStringLiteral("192.0.2.1"), refus));
    QCOMPARE(refus.statut, 401);
    QVERIFY(controle.autoriser(QStringLiteral("/"), basic("alice", "nouveau"), QStringLiteral("192.0.2.1"), refus));

    // A bad file keeps the users in force.
    QVERIFY(fichier.open(QIODevice::WriteOnly | QIODevice::Truncate));
    fichier.write("alice\n");
    fichier.close();
    QCOMPARE(controle.relire(), QStringLiteral("Utilisateurs non relus, ceux en vigueur sont gardés : %1, ligne 1 : "
                                               "nom:empreinte attendu.")
                                    .arg(chemin));
    QVERIFY(controle.autoriser(QStringLiteral("/"), basic("alice", "nouveau"), QStringLiteral("192.0.2.1"), refus));
    QCOMPARE(console.lignes(), QStringList{QStringLiteral("Identification refusée depuis 192.0.2.1 : mot de passe faux pour « alice ».")});
}

void TestControleAcces::limite()
{
    LimiteEchecs limite;
    const QString adresse = QStringLiteral("192.0.2.1");
    // Ten failures in a minute are borne; the eleventh shuts the address out.
    for (int i = 0; i < LimiteEchecs::echecsMaximum; ++i) {
        limite.echec(adresse, QStringLiteral("m"), 1000 + i * 5000);
        QCOMPARE(limite.attente(adresse, 1000 + i * 5000), qint64(0));
    }
    const QStringList lignes = limite.echec(adresse, QStringLiteral("dernier"), 59000);
    QCOMPARE(lignes, QStringList{QStringLiteral("Adresse 192.0.2.1 bloquée pendant 60 s : 11 échecs d'identification en une "
                                                "minute, le dernier : dernier.")});
    QCOMPARE(limite.attente(adresse, 59000), qint64(60000));
    QCOMPARE(limite.attente(adresse, 118999), qint64(1));
    QCOMPARE(limite.attente(QStringLiteral("192.0.2.2"), 59000), qint64(0));
    QCOMPARE(limite.attente(adresse, 119000), qint64(0));

    // Failures that never crowd into one minute never shut it out.
    LimiteEchecs espacee;
    for (int i = 0; i < 30; ++i) {
        espacee.echec(adresse, QStringLiteral("m"), i * 6001);
        QCOMPARE(espacee.attente(adresse, i * 6001), qint64(0));
    }

    // Quiet addresses are forgotten once told of.
    QVERIFY(!espacee.journaliser(30 * 6001 + 60000).isEmpty());
    QCOMPARE(espacee.adresses(), 1);
    QVERIFY(espacee.journaliser(30 * 6001 + 120000).isEmpty());
    QCOMPARE(espacee.adresses(), 0);
}

void TestControleAcces::journalParMinute()
{
    LimiteEchecs limite;
    const QString a = QStringLiteral("192.0.2.1");
    const QString b = QStringLiteral("2001:db8::1");
    QCOMPARE(limite.echec(a, QStringLiteral("utilisateur inconnu"), 0),
             QStringList{QStringLiteral("Identification refusée depuis 192.0.2.1 : utilisateur inconnu.")});
    QCOMPARE(limite.echec(b, QStringLiteral("m"), 1000).size(), 1);
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(limite.echec(a, QStringLiteral("mot de passe faux pour « alice »"), i * 10000), QStringList());
    QCOMPARE(limite.journaliser(59999), QStringList());
    QCOMPARE(limite.journaliser(60000), QStringList{QStringLiteral("Identification refusée depuis 192.0.2.1 : 5 échecs en une "
                                                                   "minute, le dernier : mot de passe faux pour « alice ».")});
    QCOMPARE(limite.journaliser(120000), QStringList());
    // The next failure after a quiet minute is told at once.
    QCOMPARE(limite.echec(a, QStringLiteral("m"), 130000).size(), 1);
}

void TestControleAcces::autorisation_data()
{
    QTest::addColumn<QString>("chemin");
    QTest::addColumn<QByteArray>("autorisation");
    QTest::addColumn<bool>("metriquesLibres");
    QTest::addColumn<int>("statut");
    QTest::addColumn<bool>("compte");

    QTest::newRow("sans") << QStringLiteral("/") << QByteArray() << false << 401 << false;
    QTest::newRow("juste") << QStringLiteral("/api/flotte") << basic("alice", "secret") << false << 200 << false;
    QTest::newRow("schema-minuscule") << QStringLiteral("/") << QByteArray("basic " + QByteArray("alice:secret").toBase64())
                                      << false << 200 << false;
    QTest::newRow("deux-points-dans-le-mot-de-passe") << QStringLiteral("/") << basic("alice", "sec:ret") << false << 401 << true;
    QTest::newRow("faux") << QStringLiteral("/") << basic("alice", "Kq7-zW") << false << 401 << true;
    QTest::newRow("bearer") << QStringLiteral("/") << QByteArray("Bearer abc") << false << 401 << true;
    QTest::newRow("base64-invalide") << QStringLiteral("/") << QByteArray("Basic ***") << false << 401 << true;
    QTest::newRow("sans-deux-points") << QStringLiteral("/") << QByteArray("Basic " + QByteArray("alice").toBase64()) << false
                                      << 401 << true;
    QTest::newRow("metriques") << QStringLiteral("/metrics") << QByteArray() << false << 401 << false;
    QTest::newRow("metriques-libres") << QStringLiteral("/metrics") << QByteArray() << true << 200 << false;
    QTest::newRow("libres-mais-pas-le-reste") << QStringLiteral("/api/flotte") << QByteArray() << true << 401 << false;
}

void TestControleAcces::autorisation()
{
    QFETCH(QString, chemin);
    QFETCH(QByteArray, autorisation);
    QFETCH(bool, metriquesLibres);
    QFETCH(int, statut);
    QFETCH(bool, compte);

    ControleAcces controle([]() { return qint64(0); });
    QString erreur;
    QVERIFY2(controle.lire(ecrire("alice:" + m_bcrypt + "\n"), erreur), qPrintable(erreur));
    controle.fixerMetriquesLibres(metriquesLibres);
    CaptureErreurStandard console;
    ReponseHttp refus;
    QCOMPARE(controle.autoriser(chemin, autorisation, QStringLiteral("192.0.2.1"), refus), statut == 200);
    if (statut == 401) {
        QCOMPARE(refus.statut, 401);
        QCOMPARE(refus.entetes.size(), 1);
        QCOMPARE(refus.entetes.first().first, QByteArray("WWW-Authenticate"));
        QCOMPARE(refus.entetes.first().second, QByteArray("Basic realm=\"collecteur\", charset=\"UTF-8\""));
    }
    // A missing login is a browser's first try, not a failure.
    QCOMPARE(console.lignes().size(), compte ? 1 : 0);
    const QByteArray decode = QByteArray::fromBase64(autorisation.mid(6));
    const QString motDePasse = QString::fromUtf8(decode.mid(decode.indexOf(':') + 1));
    for (const QString &ligne : console.lignes())
        QVERIFY2(!decode.contains(':') || !ligne.contains(motDePasse), qPrintable(ligne));
}

void TestControleAcces::blocage()
{
    qint64 maintenant = 1000;
    ControleAcces controle([&maintenant]() { return maintenant; });
    QString erreur;
    QVERIFY2(controle.lire(ecrire("alice:" + m_bcrypt + "\n"), erreur), qPrintable(erreur));
    const QString adresse = QStringLiteral("192.0.2.1");
    CaptureErreurStandard console;
    ReponseHttp refus;
    for (int i = 0; i < LimiteEchecs::echecsMaximum; ++i) {
        QVERIFY(!controle.autoriser(QStringLiteral("/"), basic("alice", "faux"), adresse, refus));
        QCOMPARE(refus.statut, 401);
    }
    maintenant += 500;
    QVERIFY(!controle.autoriser(QStringLiteral("/"), basic("alice", "faux"), adresse, refus));
    QCOMPARE(refus.statut, 429);
    QCOMPARE(refus.entetes.value(0), qMakePair(QByteArray("Retry-After"), QByteArray("60")));

    // Shut out even with the right password, and the others are not.
    maintenant += 30500;
    QVERIFY(!controle.autoriser(QStringLiteral("/"), basic("alice", "secret"), adresse, refus));
    QCOMPARE(refus.statut, 429);
    QCOMPARE(refus.entetes.value(0), qMakePair(QByteArray("Retry-After"), QByteArray("30")));
    QVERIFY(controle.autoriser(QStringLiteral("/"), basic("alice", "secret"), QStringLiteral("192.0.2.2"), refus));
    maintenant += 30000;
    QVERIFY(controle.autoriser(QStringLiteral("/"), basic("alice", "secret"), adresse, refus));

    QCOMPARE(console.lignes(),
             QStringList({QStringLiteral("Identification refusée depuis 192.0.2.1 : mot de passe faux pour « alice »."),
                          QStringLiteral("Adresse 192.0.2.1 bloquée pendant 60 s : 11 échecs d'identification en une minute, "
                                         "le dernier : mot de passe faux pour « alice ».")}));
}

QTEST_GUILESS_MAIN(TestControleAcces)
#include "tst_controleacces.moc"
