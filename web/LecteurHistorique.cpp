// SPDX-License-Identifier: MIT
#include "LecteurHistorique.h"

#include "ClesRapport.h"
#include "FichierSauvegarde.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Each measure is a column of the same name, averaged into a series of that
// name; tst_historique fails if a measure ever goes without its series.
const QStringList &colonnesHyperviseur()
{
    static const QStringList colonnes = ClesRapport::noms(ClesRapport::mesuresHyperviseur()).mid(0, Cumul::mesuresMaximum);
    return colonnes;
}

const QStringList &colonnesVM()
{
    static const QStringList colonnes = ClesRapport::noms(ClesRapport::mesuresVM()).mid(0, Cumul::mesuresMaximum);
    return colonnes;
}

QByteArray liste(const QString &table, const QStringList &colonnes)
{
    QByteArray texte;
    for (const QString &colonne : colonnes)
        texte += ", " + table.toLatin1() + '.' + colonne.toLatin1();
    return texte;
}

// Rows are averaged here rather than by GROUP BY: SQLite's sorter and a type
// test per value cost more than reading the rows (bench/RESULTS.md).
// "+h.time" keeps SQLite from the time index, which a range of whole files
// makes it prefer: the name index reads one host's rows, the time index the
// whole fleet's. Parameters: ?1 the name, ?2 and ?3 the times' bounds.
// Columns: the report's id, its time, the values.
const QByteArray &texteHyperviseur()
{
    static const QByteArray texte = "SELECT h.id, h.time" + liste(QStringLiteral("h"), colonnesHyperviseur()) + " FROM "
                                    + FichierSauvegarde::tableHyperviseurs().toLatin1()
                                    + " h WHERE h.name = ?1 AND +h.time BETWEEN ?2 AND ?3";
    return texte;
}

// The VMs of the host's reports, by the name index alone (its report rows
// were read once, above): the report's id, name, uuid, the values.
// Parameter: ?1 the host's name; ?2 the VM's, for one VM alone.
QByteArray texteVMs(bool uneVM)
{
    return "SELECT v.idinfos, v.name, v.uuid" + liste(QStringLiteral("v"), colonnesVM()) + " FROM "
           + FichierSauvegarde::tableVMs().toLatin1() + " v WHERE v.idinfos IN (SELECT id FROM "
           + FichierSauvegarde::tableHyperviseurs().toLatin1() + " WHERE name = ?1)" + (uneVM ? " AND v.name = ?2" : "");
}

struct FermerBase
{
    void operator()(sqlite3 *base) const { sqlite3_close(base); }
};

struct FinirRequete
{
    void operator()(sqlite3_stmt *requete) const { sqlite3_finalize(requete); }
};

using Base = std::unique_ptr<sqlite3, FermerBase>;

// Read-only, so that a missing or vanished file is never created, and no
// long wait on a file the collector is still writing. One thread uses the
// connection: no mutex.
Base ouvrir(const QString &chemin)
{
    sqlite3 *ouverte = nullptr;
    const int ouverture = sqlite3_open_v2(QFile::encodeName(chemin).constData(), &ouverte,
                                          SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    Base base(ouverte);
    if (ouverture != SQLITE_OK)
        return nullptr;
    sqlite3_busy_timeout(base.get(), 100);
    return base;
}

bool executer(sqlite3 *base, const QByteArray &texte, const std::function<void(sqlite3_stmt *)> &lier,
              const std::function<void(sqlite3_stmt *)> &ligne)
{
    sqlite3_stmt *preparee = nullptr;
    if (sqlite3_prepare_v2(base, texte.constData(), int(texte.size()), &preparee, nullptr) != SQLITE_OK)
        return false;
    const std::unique_ptr<sqlite3_stmt, FinirRequete> requete(preparee);
    lier(preparee);
    int etape = SQLITE_ROW;
    while ((etape = sqlite3_step(preparee)) == SQLITE_ROW)
        ligne(preparee);
    return etape == SQLITE_DONE;
}

// The collector stores whatever a report held: a text where a number was
// expected is left out of the averages rather than counted as 0.
void ajouterValeurs(Cumul &cumul, sqlite3_stmt *ligne, int premiere, int colonnes)
{
    for (int i = 0; i < colonnes; ++i) {
        const int type = sqlite3_column_type(ligne, premiere + i);
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
            cumul.ajouter(i, sqlite3_column_double(ligne, premiere + i));
    }
}

struct Demande
{
    QByteArray nom;
    QByteArray vm;
    ChoixVMs::Mode vms = ChoixVMs::Toutes;
    GrilleHistorique grille;
};

// SQLite itself rather than QSqlQuery, whose values per row (a QVariant each)
// would cost as much again as the reading. False when the file cannot be read.
bool lireFichier(const QString &chemin, const Demande &demande, SeriesCumulees &series)
{
    const Base base = ouvrir(chemin);
    if (!base)
        return false;
    struct Rapport
    {
        qint64 fin = 0;
        double temps = 0;
    };
    QHash<qint64, Rapport> rapports; // by id, those in the time range
    const int mesuresHyperviseur = int(colonnesHyperviseur().size());
    const int mesuresVM = int(colonnesVM().size());
    const auto lierHyperviseur = [&demande](sqlite3_stmt *r) {
        sqlite3_bind_text(r, 1, demande.nom.constData(), int(demande.nom.size()), SQLITE_STATIC);
        sqlite3_bind_int64(r, 2, demande.grille.min);
        sqlite3_bind_int64(r, 3, demande.grille.max);
    };
    const auto ligneHyperviseur = [&](sqlite3_stmt *r) {
        const double temps = sqlite3_column_double(r, 1);
        const Rapport rapport{demande.grille.fin(temps), temps};
        rapports.insert(sqlite3_column_int64(r, 0), rapport);
        Cumul &cumul = series.hyperviseur[rapport.fin];
        cumul.ajouterLigne(temps);
        ajouterValeurs(cumul, r, 2, mesuresHyperviseur);
        ++series.lignes;
    };
    const auto lierVMs = [&demande](sqlite3_stmt *r) {
        sqlite3_bind_text(r, 1, demande.nom.constData(), int(demande.nom.size()), SQLITE_STATIC);
        if (demande.vms == ChoixVMs::Une)
            sqlite3_bind_text(r, 2, demande.vm.constData(), int(demande.vm.size()), SQLITE_STATIC);
    };
    const auto ligneVM = [&](sqlite3_stmt *r) {
        const auto rapport = rapports.constFind(sqlite3_column_int64(r, 0));
        if (rapport == rapports.constEnd())
            return;
        // The text first, then its size, as SQLite asks.
        const auto *nom = reinterpret_cast<const char *>(sqlite3_column_text(r, 1));
        const int tailleNom = sqlite3_column_bytes(r, 1);
        const auto *uuid = reinterpret_cast<const char *>(sqlite3_column_text(r, 2));
        const int tailleUuid = sqlite3_column_bytes(r, 2);
        Cumul &cumul = series.vm(nom, tailleNom, uuid, tailleUuid).cumuls[rapport->fin];
        cumul.ajouterLigne(rapport->temps);
        ajouterValeurs(cumul, r, 3, mesuresVM);
    };
    static const QByteArray toutesLesVMs = texteVMs(false);
    static const QByteArray uneVM = texteVMs(true);
    return executer(base.get(), texteHyperviseur(), lierHyperviseur, ligneHyperviseur)
           && (demande.vms == ChoixVMs::Aucune
               || executer(base.get(), demande.vms == ChoixVMs::Une ? uneVM : toutesLesVMs, lierVMs, ligneVM));
}

} // namespace

QVector<LecteurHistorique::Fichier> LecteurHistorique::fichiers(const QString &dossier, qint64 depuis, qint64 jusqua)
{
    QVector<Fichier> choisis;
    const QFileInfoList entrees =
        QDir(dossier).entryInfoList({FichierSauvegarde::filtreNoms()}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &entree : entrees) {
        const QDateTime instant = FichierSauvegarde::instant(entree.fileName());
        if (!instant.isValid())
            continue;
        const qint64 horodatage = instant.toSecsSinceEpoch();
        if (horodatage < depuis - marge || horodatage > jusqua + dureeFichierMaximum + marge)
            continue;
        choisis.append({entree.absoluteFilePath(), horodatage});
    }
    std::sort(choisis.begin(), choisis.end(),
              [](const Fichier &a, const Fichier &b) { return a.horodatage < b.horodatage; });
    return choisis;
}

qint64 LecteurHistorique::debut(const QString &dossier)
{
    const QVector<Fichier> tous = fichiers(dossier, std::numeric_limits<qint64>::min() / 2, std::numeric_limits<qint64>::max() / 2);
    static const QByteArray texte = "SELECT min(time) FROM " + FichierSauvegarde::tableHyperviseurs().toLatin1();
    for (const Fichier &fichier : tous) {
        const Base base = ouvrir(fichier.chemin);
        qint64 premier = -1;
        // By the time index: one step, whatever the file's size.
        if (base && executer(base.get(), texte, [](sqlite3_stmt *) {}, [&](sqlite3_stmt *r) {
                if (sqlite3_column_type(r, 0) != SQLITE_NULL)
                    premier = sqlite3_column_int64(r, 0);
            }) && premier >= 0)
            return premier;
    }
    return -1;
}

int LecteurHistorique::lire(const QVector<Fichier> &choisis, const QString &nom, const ChoixVMs &vms,
                            const GrilleHistorique &grille, SeriesCumulees &series)
{
    Demande demande;
    demande.nom = nom.toUtf8();
    demande.vm = vms.nom.toUtf8();
    demande.vms = vms.mode;
    demande.grille = grille;

    // A host's rows are spread over the whole of each file: reading them is
    // SQLite's work, file by file, so the files are shared out between
    // threads, each taking the next one left.
    QAtomicInt suivant;
    QAtomicInt illisibles;
    const auto lireFichiers = [&](SeriesCumulees &lues) {
        for (int i = suivant.fetchAndAddRelaxed(1); i < choisis.size(); i = suivant.fetchAndAddRelaxed(1)) {
            if (!lireFichier(choisis.at(i).chemin, demande, lues))
                illisibles.fetchAndAddRelaxed(1);
        }
    };
    // At least one, even with no file to read.
    const int fils = qMax(1, qMin(qMin(QThread::idealThreadCount(), filsMaximum), int(choisis.size())));
    std::vector<SeriesCumulees> lectures(static_cast<size_t>(fils));
    std::vector<std::thread> autres;
    for (size_t i = 1; i < lectures.size(); ++i)
        autres.emplace_back(lireFichiers, std::ref(lectures[i]));
    lireFichiers(lectures[0]);
    for (std::thread &fil : autres)
        fil.join();
    for (const SeriesCumulees &lues : lectures)
        series.ajouter(lues);
    return illisibles.loadRelaxed();
}
