// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "DossierSauvegardes.h"
#include "EchecSauvegarde.h"
#include "FichierSauvegarde.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

void ecrireFichier(const QString &nom, const QByteArray &octets)
{
    QFile fichier(nom);
    QVERIFY2(fichier.open(QIODevice::WriteOnly), qPrintable(fichier.errorString()));
    fichier.write(octets);
}

QByteArray lireFichier(const QString &nom)
{
    QFile fichier(nom);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

QStringList fichiers()
{
    return QDir::current().entryList(QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString erreurSysteme(int numero)
{
    return QString::fromLocal8Bit(std::strerror(numero));
}

} // namespace

class TestDossierSauvegardes : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nomLibre_data();
    void nomLibre();
    void nommer_data();
    void nommer();
    void interrompueDuJournal();

private:
    std::unique_ptr<QTemporaryDir> m_dossier;
    QString m_dossierPrecedent;
    std::unique_ptr<CaptureConsole> m_console;
};

void TestDossierSauvegardes::init()
{
    m_dossier = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dossier->isValid());
    m_dossierPrecedent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dossier->path()));
    m_console = std::make_unique<CaptureConsole>();
}

void TestDossierSauvegardes::cleanup()
{
    m_console.reset();
    QDir::setCurrent(m_dossierPrecedent);
    m_dossier.reset();
}

void TestDossierSauvegardes::nomLibre_data()
{
    QTest::addColumn<QString>("suffixe");
    QTest::addColumn<bool>("lien");

    QTest::newRow("sauvegarde") << QString() << false;
    QTest::newRow("sauvegarde en cours") << FichierSauvegarde::suffixeEnCours() << false;
    QTest::newRow("segment de journal assigne") << QStringLiteral(".journal-3") << false;
    QTest::newRow("lien vers rien") << QString() << true;
}

// A name is taken by anything under it, or by what a backup under it leaves
// while it is written.
void TestDossierSauvegardes::nomLibre()
{
    QFETCH(QString, suffixe);
    QFETCH(bool, lien);

    const QDateTime maintenant = QDateTime::currentDateTime();
    for (int i = 0; i < 3; ++i) {
        const QString nom = FichierSauvegarde::nom(maintenant.addSecs(i)) + suffixe;
        if (lien)
            QVERIFY(QFile::link(QStringLiteral("absent"), nom));
        else
            ecrireFichier(nom, QByteArray());
    }

    const QDateTime avant = QDateTime::currentDateTime();
    const QString nom = DossierSauvegardes::nomLibre();

    if (avant < maintenant.addSecs(3))
        QCOMPARE(nom, FichierSauvegarde::nom(maintenant.addSecs(3)));
    else
        QVERIFY2(FichierSauvegarde::estNom(nom) && !QFile::exists(nom), qPrintable(nom));
    QCOMPARE(DossierSauvegardes::enCours(nom), nom + QStringLiteral(".en-cours"));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestDossierSauvegardes::nommer_data()
{
    QTest::addColumn<bool>("temporaire");
    QTest::addColumn<bool>("dossierAuNom");
    QTest::addColumn<bool>("nommee");
    QTest::addColumn<QStringList>("console");

    const QString enCours = QStringLiteral("collecteur01-02-2026_03-04-05.db.en-cours");
    const QString nom = QStringLiteral("collecteur01-02-2026_03-04-05.db");
    QTest::newRow("nommee") << true << false << true << QStringList();
    // Nothing that was not synced takes a backup's name.
    QTest::newRow("fichier temporaire disparu")
        << false << false << false
        << QStringList{QStringLiteral("\"Échec de la sauvegarde dans %1, étape « synchronisation du fichier » : %2\" ")
                           .arg(enCours, erreurSysteme(ENOENT))};
    QTest::newRow("nom pris par un dossier")
        << true << true << false
        << QStringList{QStringLiteral("\"Échec de la sauvegarde dans %1, étape « renommage en %2 » : %3\" ")
                           .arg(enCours, nom, erreurSysteme(EISDIR))};
}

void TestDossierSauvegardes::nommer()
{
    QFETCH(bool, temporaire);
    QFETCH(bool, dossierAuNom);
    QFETCH(bool, nommee);
    QFETCH(QStringList, console);

    const QString nom = QStringLiteral("collecteur01-02-2026_03-04-05.db");
    const QString enCours = DossierSauvegardes::enCours(nom);
    if (temporaire)
        ecrireFichier(enCours, "lignes");
    if (dossierAuNom)
        QVERIFY(QDir::current().mkpath(nom + QStringLiteral("/plein")));

    EchecSauvegarde echec;
    QCOMPARE(DossierSauvegardes::nommer(enCours, nom, echec), nommee);
    QCOMPARE(echec.survenu(), !nommee);
    // Silent: the store tells the failure, with what it does about it.
    QCOMPARE(m_console->lignes(), QStringList());
    if (echec.survenu())
        echec.signaler();

    QCOMPARE(m_console->lignes(), console);
    if (nommee) {
        QCOMPARE(fichiers(), QStringList{nom});
        QCOMPARE(lireFichier(nom), QByteArray("lignes"));
    } else if (temporaire) {
        QCOMPARE(lireFichier(enCours), QByteArray("lignes"));
    }
}

// The journal holds the rows of a backup it has segments for, and removes
// its temporary file when it reads them back: it is not set aside.
void TestDossierSauvegardes::interrompueDuJournal()
{
    const QString nom = QStringLiteral("collecteur01-02-2026_03-04-05.db");
    const QStringList laisses{DossierSauvegardes::enCours(nom), FichierSauvegarde::nomSegmentAssigne(nom, 1)};
    for (const QString &laisse : laisses)
        ecrireFichier(laisse, "lignes");

    DossierSauvegardes::mettreDeCoteInterrompues();

    QCOMPARE(fichiers(), laisses);
    QCOMPARE(m_console->lignes(), QStringList());
}

QTEST_GUILESS_MAIN(TestDossierSauvegardes)
#include "tst_dossiersauvegardes.moc"
