// SPDX-License-Identifier: MIT
#include "FichierSauvegarde.h"
#include "InventaireSauvegardes.h"
#include "NettoyageSauvegardes.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 maintenant = 1700006400;
constexpr qint64 heure = 3600;
constexpr qint64 taille = 100;
constexpr qint64 capacite = 1000;

// A filesystem of `capacite` bytes holding the folder's files alone.
NettoyageSauvegardes::Espace espaceSimule(const QString &dossier)
{
    qint64 occupe = 0;
    for (const QFileInfo &fichier : QDir(dossier).entryInfoList(QDir::Files))
        occupe += fichier.size();
    return {capacite - occupe, capacite};
}

} // namespace

class TestNettoyageSauvegardes : public QObject
{
    Q_OBJECT

private slots:
    void regles_data();
    void regles();
    void plancherSignaleUneFois();
};

void TestNettoyageSauvegardes::regles_data()
{
    QTest::addColumn<QVector<int>>("ages"); // hours, oldest first
    QTest::addColumn<QVector<int>>("nonArchivees");
    QTest::addColumn<qint64>("brut");
    QTest::addColumn<double>("plancher");
    QTest::addColumn<QVector<int>>("gardees");
    QTest::addColumn<QStringList>("lignes");

    const QVector<int> semaines{20 * 24, 10 * 24, 9 * 24, 7 * 24, 2 * 24, 1};
    QTest::newRow("âge : les archivées seulement")
        << semaines << QVector<int>{9 * 24} << 8 * 24 * heure << 0.0 << QVector<int>{9 * 24, 7 * 24, 2 * 24, 1}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 2 fichiers, 200 octets, archivées et plus vieilles que 8 j.")};
    QTest::newRow("âge : jamais la plus récente")
        << QVector<int>{30 * 24, 20 * 24} << QVector<int>{} << 36 * heure << 0.0 << QVector<int>{20 * 24}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 1 fichier, 100 octets, archivées et plus vieilles que 36 h.")};
    QTest::newRow("rien à faire") << semaines << QVector<int>{} << 30 * 24 * heure << 10.0 << semaines << QStringList{};
    // 600 bytes of 1000 used: 40 % free; 60 % needs two files gone.
    QTest::newRow("plancher : les plus vieilles d'abord")
        << semaines << QVector<int>{} << 30 * 24 * heure << 60.0 << QVector<int>{9 * 24, 7 * 24, 2 * 24, 1}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 2 fichiers, 200 octets, archivées, pour garder 60 % d'espace libre.")};
    QTest::newRow("plancher : pas les non archivées")
        << semaines << QVector<int>{20 * 24, 10 * 24} << 30 * 24 * heure << 60.0
        << QVector<int>{20 * 24, 10 * 24, 2 * 24, 1}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 2 fichiers, 200 octets, archivées, pour garder 60 % d'espace libre.")};
    QTest::newRow("âge puis plancher")
        << semaines << QVector<int>{} << 8 * 24 * heure << 75.5 << QVector<int>{2 * 24, 1}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 3 fichiers, 300 octets, archivées et plus vieilles que 8 j."),
                       QStringLiteral("Sauvegardes supprimées : 1 fichier, 100 octets, archivées, pour garder 75,5 % d'espace libre.")};
    QTest::newRow("plancher inatteignable")
        << semaines << QVector<int>{2 * 24} << 30 * 24 * heure << 95.0 << QVector<int>{2 * 24, 1}
        << QStringList{QStringLiteral("Sauvegardes supprimées : 4 fichiers, 400 octets, archivées, pour garder 95 % d'espace libre."),
                       QStringLiteral("Espace libre sous 95 % (80 % libres) : plus aucune sauvegarde archivée à supprimer.")};
}

void TestNettoyageSauvegardes::regles()
{
    QFETCH(QVector<int>, ages);
    QFETCH(QVector<int>, nonArchivees);
    QFETCH(qint64, brut);
    QFETCH(double, plancher);
    QFETCH(QVector<int>, gardees);
    QFETCH(QStringList, lignes);

    QTemporaryDir dossier;
    QSet<QString> archivees;
    QHash<int, QString> noms;
    for (const int age : ages) {
        const QString nom = FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(maintenant - age * heure));
        noms.insert(age, nom);
        QFile fichier(dossier.filePath(nom));
        QVERIFY(fichier.open(QIODevice::WriteOnly));
        fichier.write(QByteArray(taille, 'x'));
        if (!nonArchivees.contains(age))
            archivees.insert(nom);
    }
    NettoyageSauvegardes nettoyage(dossier.path(), {brut, plancher}, espaceSimule);
    QCOMPARE(nettoyage.nettoyer(InventaireSauvegardes::lister(dossier.path()), archivees, maintenant), lignes);

    QStringList attendues;
    for (const int age : gardees)
        attendues.append(noms.value(age));
    std::sort(attendues.begin(), attendues.end());
    QStringList restantes = QDir(dossier.path()).entryList(QDir::Files);
    std::sort(restantes.begin(), restantes.end());
    QCOMPARE(restantes, attendues);
}

void TestNettoyageSauvegardes::plancherSignaleUneFois()
{
    QTemporaryDir dossier;
    const QString nom = FichierSauvegarde::nom(QDateTime::fromSecsSinceEpoch(maintenant));
    QFile fichier(dossier.filePath(nom));
    QVERIFY(fichier.open(QIODevice::WriteOnly));
    fichier.write(QByteArray(taille, 'x'));
    fichier.close();
    NettoyageSauvegardes::Espace espace{50, capacite};
    NettoyageSauvegardes nettoyage(dossier.path(), {heure, 10}, [&](const QString &) { return espace; });
    const auto nettoyer = [&]() {
        return nettoyage.nettoyer(InventaireSauvegardes::lister(dossier.path()), {nom}, maintenant + 10 * heure);
    };
    const QStringList ligne{QStringLiteral("Espace libre sous 10 % (5 % libres) : plus aucune sauvegarde archivée à supprimer.")};
    QCOMPARE(nettoyer(), ligne);
    QCOMPARE(nettoyer(), QStringList());
    espace.libre = 500;
    QCOMPARE(nettoyer(), QStringList());
    espace.libre = 10;
    QCOMPARE(nettoyer(), QStringList{QStringLiteral("Espace libre sous 10 % (1 % libres) : plus aucune sauvegarde archivée à supprimer.")});
    // The newest file, alone, stays whatever its age.
    QVERIFY(QFile::exists(fichier.fileName()));
}

QTEST_GUILESS_MAIN(TestNettoyageSauvegardes)
#include "tst_nettoyagesauvegardes.moc"
