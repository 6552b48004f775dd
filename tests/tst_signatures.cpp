// SPDX-License-Identifier: MIT
#include "DatagrammeRapport.h"
#include "FichierCles.h"
#include "FiltreAfficheurs.h"
#include "LigneCommande.h"
#include "SignataireRapports.h"
#include "SignatureRapport.h"
#include "VerificateurSignatures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSignatures : public QObject
{
    Q_OBJECT

private slots:
    void lueSansCles();
    void fichierCles_data();
    void fichierCles();
    void fichierLisibleParTous();
    void verification_data();
    void verification();
    void lignesParMinute();
    void afficheurs_data();
    void afficheurs();
};

namespace {

const qint64 maintenant = 1796900000000000; // µs

QByteArray cle(char octet)
{
    return QByteArray(32, octet);
}

FichierCles::Cles cles()
{
    return {{QStringLiteral("hv-a"), {cle('a'), cle('A')}}, {QStringLiteral("hv-b"), {cle('b')}}};
}

QByteArray texte(const QString &nom)
{
    return QStringLiteral("{\"name\":\"%1\",\"cpu\":12.5,\"vms\":[{\"name\":\"vm-1\",\"state\":1}]}").arg(nom).toLatin1();
}

QByteArray signe(quint32 sequence, const QByteArray &rapport, const QByteArray &cleUtilisee, qint64 horodatage)
{
    QByteArray d = DatagrammeRapport::ecrire(sequence, rapport);
    SignatureRapport::signer(d, cleUtilisee, horodatage);
    return d;
}

} // namespace

void TestSignatures::lueSansCles()
{
    // A collector without keys reads the same number and text as from an unsigned datagram.
    const QByteArray d = signe(7, texte(QStringLiteral("hv-a")), cle('a'), maintenant);
    QCOMPARE(d.size(), 4 + texte(QStringLiteral("hv-a")).size() + SignatureRapport::taille);
    QCOMPARE(DatagrammeRapport::sequence(d), 7u);
    QCOMPARE(DatagrammeRapport::texte(d), QString::fromLatin1(texte(QStringLiteral("hv-a"))));
    const SignatureRapport::Lue lue = SignatureRapport::lire(d);
    QVERIFY(lue.presente);
    QCOMPARE(lue.horodatage, maintenant);
    QVERIFY(SignatureRapport::verifier(lue, cle('a')));
    QVERIFY(!SignatureRapport::verifier(lue, cle('b')));
    QVERIFY(!SignatureRapport::lire(DatagrammeRapport::ecrire(7, texte(QStringLiteral("hv-a")))).presente);
    QVERIFY(!SignatureRapport::lire(QByteArray(SignatureRapport::taille, '\0')).presente);

    // Two reports in the same millisecond still get two times.
    SignataireRapports signataire(cle('a'));
    QByteArray premier = DatagrammeRapport::ecrire(1, texte(QStringLiteral("hv-a")));
    QByteArray second = DatagrammeRapport::ecrire(2, texte(QStringLiteral("hv-a")));
    signataire.signer(premier, maintenant);
    signataire.signer(second, maintenant);
    QCOMPARE(SignatureRapport::lire(second).horodatage, SignatureRapport::lire(premier).horodatage + 1);
}

void TestSignatures::fichierCles_data()
{
    QTest::addColumn<QByteArray>("texte");
    QTest::addColumn<QString>("erreur");
    QTest::addColumn<int>("hotes");

    const QByteArray k = cle('k').toBase64();
    QTest::newRow("deux-hotes") << QByteArray("# clés\nhv-a " + k + "  # la première\n\nhv-b\t" + k + "\nhv-a " + k + "\n")
                                << QString() << 2;
    QTest::newRow("trois-cles") << QByteArray("hv-a " + k + "\nhv-a " + k + "\nhv-a " + k + "\n")
                                << QStringLiteral("ligne 3 : plus de 2 clés pour hv-a") << 0;
    QTest::newRow("trop-courte") << QByteArray("hv-a " + QByteArray(16, 'x').toBase64() + "\n")
                                 << QStringLiteral("ligne 1 : clé de hv-a : au moins 32 octets en base64 attendus") << 0;
    QTest::newRow("pas-base64") << QByteArray("hv-a ceci*n'est*pas*du*base64*du*tout*pas*du*tout\n")
                                << QStringLiteral("ligne 1 : clé de hv-a : au moins 32 octets en base64 attendus") << 0;
    QTest::newRow("sans-cle") << QByteArray("\nhv-a\n") << QStringLiteral("ligne 2 : « NOM CLE » attendu") << 0;
}

void TestSignatures::fichierCles()
{
    QFETCH(QByteArray, texte);
    QFETCH(QString, erreur);
    QFETCH(int, hotes);

    FichierCles::Cles lues;
    QString lue;
    QCOMPARE(FichierCles::lireTexte(texte, lues, lue), erreur.isEmpty());
    QCOMPARE(lue, erreur);
    if (erreur.isEmpty()) {
        QCOMPARE(lues.size(), hotes);
        QCOMPARE(lues.value(QStringLiteral("hv-a")).size(), 2);
    }
    // A fresh line is one the file takes.
    FichierCles::Cles nouvelle;
    QVERIFY(FichierCles::lireTexte(FichierCles::nouvelleLigne(QStringLiteral("hv-z")).toUtf8(), nouvelle, lue));
    QCOMPARE(nouvelle.value(QStringLiteral("hv-z")).value(0).size(), SignatureRapport::tailleCleMinimum);
}

void TestSignatures::fichierLisibleParTous()
{
    QTemporaryDir dossier;
    QFile fichier(dossier.filePath(QStringLiteral("cles")));
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(FichierCles::nouvelleLigne(QStringLiteral("hv-a")).toUtf8());
    fichier.close();
    FichierCles::Cles lues;
    QString erreur;
    QVERIFY(fichier.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(!FichierCles::lire(fichier.fileName(), lues, erreur));
    QCOMPARE(erreur, QStringLiteral("%1 : lisible ou modifiable par d'autres utilisateurs (droits 644), chmod 640 attendu")
                         .arg(fichier.fileName()));
    QVERIFY(fichier.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY2(FichierCles::lire(fichier.fileName(), lues, erreur), qPrintable(erreur));
    QCOMPARE(lues.size(), 1);
}

void TestSignatures::verification_data()
{
    QTest::addColumn<QByteArray>("datagramme");
    QTest::addColumn<int>("raison"); // -1: accepted

    const QByteArray a = texte(QStringLiteral("hv-a"));
    QTest::newRow("signe") << signe(1, a, cle('a'), maintenant) << -1;
    QTest::newRow("cle-remplacee") << signe(1, a, cle('A'), maintenant) << -1;
    QTest::newRow("derive-permise") << signe(1, a, cle('a'), maintenant - 119000000) << -1;
    QTest::newRow("sans-signature") << DatagrammeRapport::ecrire(1, a) << int(VerificateurSignatures::SansSignature);
    QTest::newRow("hote-sans-cle") << signe(1, texte(QStringLiteral("hv-c")), cle('a'), maintenant)
                                   << int(VerificateurSignatures::HoteSansCle);
    QTest::newRow("cle-d-un-autre") << signe(1, a, cle('b'), maintenant) << int(VerificateurSignatures::SignatureFausse);
    QByteArray change = signe(1, a, cle('a'), maintenant);
    change[20] = char(change.at(20) ^ 1);
    QTest::newRow("octet-change") << change << int(VerificateurSignatures::SignatureFausse);
    QByteArray date = signe(1, a, cle('a'), maintenant);
    const int heure = int(date.size()) - SignatureRapport::tailleCode - 1;
    date[heure] = char(date.at(heure) ^ 1);
    QTest::newRow("heure-changee") << date << int(VerificateurSignatures::SignatureFausse);
    QByteArray sequence = signe(1, a, cle('a'), maintenant);
    sequence[3] = 9;
    QTest::newRow("numero-change") << sequence << int(VerificateurSignatures::SignatureFausse);
    QTest::newRow("vieux-de-10-min") << signe(1, a, cle('a'), maintenant - 600000000) << int(VerificateurSignatures::TropAncienne);
    QTest::newRow("du-futur") << signe(1, a, cle('a'), maintenant + 121000000) << int(VerificateurSignatures::TropEnAvance);
    // Signed by hv-b's agent, naming hv-a where a careless reader would look.
    QTest::newRow("nom-en-double") << signe(1, "{\"name\":\"hv-b\",\"vms\":[],\"name\":\"hv-a\"}", cle('b'), maintenant)
                                   << int(VerificateurSignatures::SignatureFausse);
    QTest::newRow("nom-d-une-vm") << signe(1, "{\"vms\":[{\"name\":\"hv-b\"}]}", cle('b'), maintenant)
                                  << int(VerificateurSignatures::HoteSansCle);
    QTest::newRow("tronque") << signe(1, a, cle('a'), maintenant).left(40) << int(VerificateurSignatures::SansSignature);
}

void TestSignatures::verification()
{
    QFETCH(QByteArray, datagramme);
    QFETCH(int, raison);

    VerificateurSignatures verificateur(cles(), 120000);
    VerificateurSignatures::Raison lue = VerificateurSignatures::NombreRaisons;
    const bool acceptee = verificateur.verifier(datagramme, DatagrammeRapport::texte(datagramme), maintenant, lue);
    QCOMPARE(acceptee, raison < 0);
    if (raison >= 0) {
        QCOMPARE(int(lue), raison);
        return;
    }
    // The same datagram again is a replay; a restarted agent, numbering
    // from 0 again with a later time, is taken.
    QVERIFY(!verificateur.verifier(datagramme, DatagrammeRapport::texte(datagramme), maintenant, lue));
    QCOMPARE(lue, VerificateurSignatures::Rejouee);
    const QByteArray redemarre = signe(0, texte(QStringLiteral("hv-a")), cle('a'), SignatureRapport::lire(datagramme).horodatage + 1);
    QVERIFY(verificateur.verifier(redemarre, DatagrammeRapport::texte(redemarre), maintenant, lue));
}

void TestSignatures::lignesParMinute()
{
    VerificateurSignatures verificateur(cles(), 120000);
    const qint64 ms = maintenant / 1000;
    const QString ligne = QStringLiteral("127.0.0.9 : %1 rapport(s) refusé(s), sans signature.");
    QCOMPARE(verificateur.refuser(QStringLiteral("127.0.0.9"), VerificateurSignatures::SansSignature, ms),
             QStringList{ligne.arg(1)});
    for (int i = 1; i <= 40; ++i)
        QVERIFY(verificateur.refuser(QStringLiteral("127.0.0.9"), VerificateurSignatures::SansSignature, ms + i * 1000)
                    .isEmpty());
    // Another reason, another sender: their own lines.
    QCOMPARE(verificateur.refuser(QStringLiteral("127.0.0.9"), VerificateurSignatures::Rejouee, ms).size(), 1);
    QCOMPARE(verificateur.refuser(QStringLiteral("127.0.0.8"), VerificateurSignatures::SansSignature, ms).size(), 1);
    QVERIFY(verificateur.lignesDues(ms + 59999).isEmpty());
    QCOMPARE(verificateur.lignesDues(ms + 60000), QStringList{ligne.arg(40)});
    QVERIFY(verificateur.attente());
    QVERIFY(verificateur.lignesDues(ms + 120000).isEmpty());
    QVERIFY(!verificateur.attente());
    QCOMPARE(verificateur.refusees(VerificateurSignatures::SansSignature), 42u);
}

void TestSignatures::afficheurs_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("lue");
    QTest::addColumn<QString>("adresse");
    QTest::addColumn<bool>("permise");

    QTest::newRow("boucle") << QStringLiteral("--afficheurs=127.0.0.1/32") << true << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("autre-boucle") << QStringLiteral("--afficheurs=127.0.0.1/32") << true << QStringLiteral("127.0.0.2") << false;
    QTest::newRow("v4-sur-v6") << QStringLiteral("--afficheurs=10.0.0.0/8") << true << QStringLiteral("::ffff:10.1.2.3") << true;
    QTest::newRow("v6") << QStringLiteral("--afficheurs=127.0.0.1,2001:db8::/32") << true << QStringLiteral("2001:db8::7") << true;
    QTest::newRow("adresse-seule") << QStringLiteral("--afficheurs=192.0.2.1") << true << QStringLiteral("192.0.2.2") << false;
    QTest::newRow("illisible") << QStringLiteral("--afficheurs=10.0.0.0/33") << false << QString() << false;
    QTest::newRow("vide") << QStringLiteral("--afficheurs=") << false << QString() << false;
}

void TestSignatures::afficheurs()
{
    QFETCH(QString, option);
    QFETCH(bool, lue);
    QFETCH(QString, adresse);
    QFETCH(bool, permise);

    QList<QPair<QHostAddress, int>> reseaux;
    QCOMPARE(LigneCommande::afficheurs({QStringLiteral("collecteur"), option}, reseaux), lue);
    if (!lue)
        return;
    FiltreAfficheurs filtre;
    filtre.restreindre(reseaux);
    QCOMPARE(filtre.permis(QHostAddress(adresse)), permise);
}

QTEST_GUILESS_MAIN(TestSignatures)
#include "tst_signatures.moc"
