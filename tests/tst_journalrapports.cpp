// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "JournalRapports.h"
#include "SegmentJournal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>

namespace {

QStringList fichiers(const QString &dossier)
{
    return QDir(dossier).entryList(QDir::Files, QDir::Name);
}

void ecrireFichier(const QString &chemin, const QByteArray &octets)
{
    QFile fichier(chemin);
    QVERIFY2(fichier.open(QIODevice::WriteOnly), qPrintable(fichier.errorString()));
    fichier.write(octets);
}

QByteArray lireFichier(const QString &chemin)
{
    QFile fichier(chemin);
    return fichier.open(QIODevice::ReadOnly) ? fichier.readAll() : QByteArray();
}

const QString sauvegardeA = QStringLiteral("collecteur01-02-2026_03-00-00.db");
const QString sauvegardeB = QStringLiteral("collecteur01-02-2026_04-00-00.db");

} // namespace

class TestJournalRapports : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void relectureApresArretBrutal();
    void finEndommagee_data();
    void finEndommagee();
    void assignationASauvegarde_data();
    void assignationASauvegarde();
    void sauvegardeEchoueePuisReussie();
    void arretPropre();
    void dossierImpossible();
    void reprisApresSauvegarde();

private:
    QString chemin(const QString &nom) const { return QDir(m_dossier->path()).filePath(nom); }
    // What a run that is killed leaves: its writes reach the file, nothing
    // is removed.
    void ecrireEtArreterBrutalement(const QStringList &rapports);

    std::unique_ptr<QTemporaryDir> m_dossier;
    std::unique_ptr<CaptureConsole> m_console;
};

void TestJournalRapports::init()
{
    m_dossier = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dossier->isValid());
    m_console = std::make_unique<CaptureConsole>();
}

void TestJournalRapports::cleanup()
{
    m_console.reset();
    m_dossier.reset();
}

void TestJournalRapports::ecrireEtArreterBrutalement(const QStringList &rapports)
{
    JournalRapports journal(m_dossier->path());
    QVERIFY(journal.demarrer());
    for (const QString &rapport : rapports)
        journal.ajouter(rapport);
}

void TestJournalRapports::relectureApresArretBrutal()
{
    const QStringList premiers{QStringLiteral("{\"name\":\"a\"}"), QString(), QStringLiteral("caf\u00e9")};
    ecrireEtArreterBrutalement(premiers);
    ecrireEtArreterBrutalement({QStringLiteral("suivant")});
    QCOMPARE(fichiers(m_dossier->path()),
             (QStringList{QStringLiteral("collecteur-1.journal"), QStringLiteral("collecteur-2.journal")}));

    JournalRapports journal(m_dossier->path());
    const JournalRapports::Recuperation recuperation = journal.recuperer();
    QVERIFY(recuperation.trouve);
    QCOMPARE(recuperation.rapports, premiers + QStringList{QStringLiteral("suivant")});
    QCOMPARE(recuperation.octetsIgnores, qint64(0));
    // Read back, the segments stay until a backup holds their reports.
    QVERIFY(journal.demarrer());
    QCOMPARE(fichiers(m_dossier->path()).size(), 3);
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestJournalRapports::finEndommagee_data()
{
    QTest::addColumn<int>("coupure");
    QTest::addColumn<QByteArray>("ajout");
    QTest::addColumn<int>("relus");
    QTest::addColumn<qint64>("ignores");

    // Each record: 6 bytes of header, then the report's bytes.
    QTest::newRow("intact") << 0 << QByteArray() << 2 << qint64(0);
    QTest::newRow("dernier enregistrement coupe") << 3 << QByteArray() << 1 << qint64(6 + 5 - 3);
    QTest::newRow("entete coupee") << 5 + 3 << QByteArray() << 1 << qint64(6 - 3);
    QTest::newRow("octets en trop") << 0 << QByteArray("\x00\x00", 2) << 2 << qint64(2);
    QTest::newRow("longueur demesuree") << 0 << QByteArray("\x7f\xff\xff\xff\x00\x00xyz", 9) << 2 << qint64(9);
}

void TestJournalRapports::finEndommagee()
{
    QFETCH(int, coupure);
    QFETCH(QByteArray, ajout);
    QFETCH(int, relus);
    QFETCH(qint64, ignores);

    ecrireEtArreterBrutalement({QStringLiteral("premier"), QStringLiteral("fin!!")});
    const QString segment = chemin(QStringLiteral("collecteur-1.journal"));
    QByteArray octets = lireFichier(segment);
    octets.chop(coupure);
    ecrireFichier(segment, octets + ajout);

    JournalRapports journal(m_dossier->path());
    const JournalRapports::Recuperation recuperation = journal.recuperer();
    QCOMPARE(recuperation.rapports, (QStringList{QStringLiteral("premier"), QStringLiteral("fin!!")}.mid(0, relus)));
    QCOMPARE(recuperation.octetsIgnores, ignores);
}

void TestJournalRapports::assignationASauvegarde_data()
{
    QTest::addColumn<bool>("fichierFini");
    QTest::addColumn<bool>("fichierEnCours");
    QTest::addColumn<int>("relus");
    QTest::newRow("arret avant la fin de la sauvegarde") << false << true << 2;
    QTest::newRow("arret avant meme le fichier") << false << false << 2;
    // The backup had its name: its reports are there, not to be read twice.
    QTest::newRow("arret apres le renommage") << true << false << 0;
}

void TestJournalRapports::assignationASauvegarde()
{
    QFETCH(bool, fichierFini);
    QFETCH(bool, fichierEnCours);
    QFETCH(int, relus);
    {
        JournalRapports journal(m_dossier->path());
        QVERIFY(journal.demarrer());
        journal.ajouter(QStringLiteral("un"));
        journal.ajouter(QStringLiteral("deux"));
        journal.assigner(sauvegardeA);
        QCOMPARE(fichiers(m_dossier->path()),
                 (QStringList{QStringLiteral("collecteur-2.journal"), sauvegardeA + QStringLiteral(".journal-1")}));
        // Arriving while the backup runs: for the next one.
        journal.ajouter(QStringLiteral("trois"));
    }
    if (fichierFini)
        ecrireFichier(chemin(sauvegardeA), "fini");
    if (fichierEnCours)
        ecrireFichier(chemin(sauvegardeA + QStringLiteral(".en-cours")), "partiel");

    JournalRapports journal(m_dossier->path());
    const JournalRapports::Recuperation recuperation = journal.recuperer();
    QCOMPARE(recuperation.rapports,
             (QStringList{QStringLiteral("un"), QStringLiteral("deux")}.mid(0, relus) + QStringList{QStringLiteral("trois")}));
    // Neither the temporary file nor a finished backup's segment is left.
    QStringList restants{QStringLiteral("collecteur-2.journal")};
    if (fichierFini)
        restants << sauvegardeA;
    else
        restants << sauvegardeA + QStringLiteral(".journal-1");
    QCOMPARE(fichiers(m_dossier->path()), restants);
}

void TestJournalRapports::sauvegardeEchoueePuisReussie()
{
    JournalRapports journal(m_dossier->path());
    QVERIFY(journal.demarrer());
    journal.ajouter(QStringLiteral("un"));
    journal.assigner(sauvegardeA);
    // A failed backup keeps its rows, so the next one takes its segments too.
    journal.ajouter(QStringLiteral("deux"));
    journal.assigner(sauvegardeB);
    QCOMPARE(fichiers(m_dossier->path()),
             (QStringList{QStringLiteral("collecteur-3.journal"), sauvegardeB + QStringLiteral(".journal-1"),
                          sauvegardeB + QStringLiteral(".journal-2")}));
    QVERIFY(JournalRapports::segmentsAssignes(m_dossier->path(), sauvegardeB));
    QVERIFY(!JournalRapports::segmentsAssignes(m_dossier->path(), sauvegardeA));

    ecrireFichier(chemin(sauvegardeB), "fini");
    journal.sauvegardeTerminee(sauvegardeB);
    QCOMPARE(fichiers(m_dossier->path()), (QStringList{QStringLiteral("collecteur-3.journal"), sauvegardeB}));
}

void TestJournalRapports::arretPropre()
{
    {
        JournalRapports journal(m_dossier->path());
        QVERIFY(journal.demarrer());
        journal.ajouter(QStringLiteral("un"));
        journal.assigner(sauvegardeA);
        ecrireFichier(chemin(sauvegardeA), "fini");
        journal.sauvegardeTerminee(sauvegardeA);
    }
    // Only the backup remains: the next start finds nothing to read back.
    QCOMPARE(fichiers(m_dossier->path()), QStringList{sauvegardeA});
    JournalRapports journal(m_dossier->path());
    QVERIFY(!journal.recuperer().trouve);
}

void TestJournalRapports::dossierImpossible()
{
    JournalRapports journal(QDir(m_dossier->path()).filePath(QStringLiteral("absent")));
    QVERIFY(!journal.demarrer());
    QVERIFY(!journal.actif());
    QCOMPARE(m_console->lignes(),
             QStringList{QStringLiteral("\"Journal collecteur-1.journal : impossible de créer (No such file or directory). "
                                        "Le collecteur continue sans journal : un arrêt brutal perdrait les rapports reçus "
                                        "depuis la dernière sauvegarde.\" ")});
    journal.ajouter(QStringLiteral("perdu"));
    journal.assigner(sauvegardeA);
    QCOMPARE(m_console->lignes().size(), 1);
}

// What a stopped journal misses is counted until a backup takes it, and
// the journal begins again then.
void TestJournalRapports::reprisApresSauvegarde()
{
    JournalRapports journal(m_dossier->path());
    QVERIFY(journal.demarrer());
    journal.ajouter(QStringLiteral("un"));
    journal.assigner(sauvegardeA);
    QCOMPARE(journal.horsJournal(), qint64(0));

    // The new segment may not grow at all: neither its header nor the next
    // two reports are written.
    struct rlimit avant;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &avant), 0);
    struct rlimit limite = avant;
    limite.rlim_cur = 0;
    ::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limite), 0);
    journal.ajouter(QStringLiteral("deux"));
    journal.ajouter(QStringLiteral("trois"));
    journal.assigner(sauvegardeB);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &avant), 0);
    ::signal(SIGXFSZ, SIG_DFL);
    QCOMPARE(m_console->lignes(),
             QStringList{QStringLiteral("\"Journal collecteur-2.journal : impossible de écrire (File too large). "
                                        "Le collecteur continue sans journal : un arrêt brutal perdrait les rapports reçus "
                                        "depuis la dernière sauvegarde.\" ")});
    QVERIFY(!journal.actif());
    journal.ajouter(QStringLiteral("quatre"));
    QCOMPARE(journal.horsJournal(), qint64(3));

    ecrireFichier(chemin(sauvegardeB), "fini");
    journal.sauvegardeTerminee(sauvegardeB);
    QCOMPARE(journal.horsJournal(), qint64(0));
    QVERIFY(journal.actif());
    QCOMPARE(m_console->lignes().value(1),
             QStringLiteral("\"Journal collecteur-3.journal repris : un arrêt brutal ne perd de nouveau que la dernière "
                            "demi-seconde de rapports.\" "));
    QCOMPARE(fichiers(m_dossier->path()), (QStringList{QStringLiteral("collecteur-3.journal"), sauvegardeB}));
}

QTEST_GUILESS_MAIN(TestJournalRapports)
#include "tst_journalrapports.moc"
