// SPDX-License-Identifier: MIT
#include "LecteurHistorique.h"

#include "ClesRapport.h"
#include "FichierSauvegarde.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

// More than either table has measures; tst_historique fails if a measure
// ever goes without its series.
constexpr int colonnesMaximum = 8;

// Each measure is a column of the same name, averaged into a series of that name.
const QStringList &colonnesHyperviseur()
{
    static const QStringList colonnes = ClesRapport::noms(ClesRapport::mesuresHyperviseur()).mid(0, colonnesMaximum);
    return colonnes;
}

const QStringList &colonnesVM()
{
    static const QStringList colonnes = ClesRapport::noms(ClesRapport::mesuresVM()).mid(0, colonnesMaximum);
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
// whole fleet's. Parameters: ?1 depuis, ?2 pas, ?3 the name, ?4 jusqua.
// Columns: the report's id, its bin, its time, the values.
const QByteArray &texteHyperviseur()
{
    static const QByteArray texte = "SELECT h.id, (CAST(h.time AS INTEGER) - ?1) / ?2, h.time"
                                    + liste(QStringLiteral("h"), colonnesHyperviseur()) + " FROM "
                                    + FichierSauvegarde::tableHyperviseurs().toLatin1()
                                    + " h WHERE h.name = ?3 AND +h.time BETWEEN ?1 AND ?4";
    return texte;
}

// The VMs of the host's reports, by the name index alone (its report rows
// were read once, above): the report's id, name, uuid, the values.
// Parameter: ?1 the name.
const QByteArray &texteVMs()
{
    static const QByteArray texte = "SELECT v.idinfos, v.name, v.uuid" + liste(QStringLiteral("v"), colonnesVM()) + " FROM "
                                    + FichierSauvegarde::tableVMs().toLatin1() + " v WHERE v.idinfos IN (SELECT id FROM "
                                    + FichierSauvegarde::tableHyperviseurs().toLatin1() + " WHERE name = ?1)";
    return texte;
}

// One bin of a series: its rows' times and, per column, the sum and count
// of its values.
struct Cumul
{
    qint64 lignes = 0;
    double sommeTemps = 0;
    std::array<double, colonnesMaximum> somme{};
    std::array<qint64, colonnesMaximum> nombre{};

    // The collector stores whatever a report held: a text where a number was
    // expected is left out of the averages rather than counted as 0.
    void ajouter(double temps, sqlite3_stmt *ligne, int premiere, int colonnes)
    {
        ++lignes;
        sommeTemps += temps;
        for (int i = 0; i < colonnes; ++i) {
            const int type = sqlite3_column_type(ligne, premiere + i);
            if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
                somme[size_t(i)] += sqlite3_column_double(ligne, premiere + i);
                ++nombre[size_t(i)];
            }
        }
    }

    void ajouter(const Cumul &autre)
    {
        lignes += autre.lignes;
        sommeTemps += autre.sommeTemps;
        for (size_t i = 0; i < somme.size(); ++i) {
            somme[i] += autre.somme[i];
            nombre[i] += autre.nombre[i];
        }
    }
};

using Serie = QMap<qint64, Cumul>;

void ajouter(Serie &serie, const Serie &autre)
{
    for (auto it = autre.constBegin(); it != autre.constEnd(); ++it)
        serie[it.key()].ajouter(it.value());
}

struct SerieVM
{
    QString nom;
    QString uuid;
    Serie cumuls;
};

// What one thread read from its share of the files. A VM is found by the
// name and uuid as SQLite hands them, without a copy for each row.
struct Lecture
{
    Serie hyperviseur;
    QHash<QByteArray, QHash<QByteArray, SerieVM>> vms;
    int illisibles = 0;

    SerieVM &vm(const char *nom, int tailleNom, const char *uuid, int tailleUuid)
    {
        auto parNom = vms.find(QByteArray::fromRawData(nom, tailleNom));
        if (parNom == vms.end())
            parNom = vms.insert(QByteArray(nom, tailleNom), {});
        auto vm = parNom->find(QByteArray::fromRawData(uuid, tailleUuid));
        if (vm == parNom->end())
            vm = parNom->insert(QByteArray(uuid, tailleUuid),
                                SerieVM{QString::fromUtf8(nom, tailleNom), QString::fromUtf8(uuid, tailleUuid), {}});
        return *vm;
    }

    void ajouter(const Lecture &autre)
    {
        ::ajouter(hyperviseur, autre.hyperviseur);
        for (auto parNom = autre.vms.constBegin(); parNom != autre.vms.constEnd(); ++parNom) {
            for (const SerieVM &serie : parNom.value()) {
                const QByteArray nom = parNom.key();
                const QByteArray uuid = serie.uuid.toUtf8();
                ::ajouter(vm(nom.constData(), nom.size(), uuid.constData(), uuid.size()).cumuls, serie.cumuls);
            }
        }
        illisibles += autre.illisibles;
    }
};

struct FermerBase
{
    void operator()(sqlite3 *base) const { sqlite3_close(base); }
};

struct FinirRequete
{
    void operator()(sqlite3_stmt *requete) const { sqlite3_finalize(requete); }
};

struct Demande
{
    qint64 depuis = 0;
    qint64 jusqua = 0;
    qint64 pas = 1;
    QByteArray nom;
};

// SQLite itself rather than QSqlQuery, whose values per row (a QVariant each)
// would cost as much again as the reading. False when the file cannot be read.
bool lireFichier(const QString &chemin, const Demande &demande, Lecture &lecture)
{
    sqlite3 *ouverte = nullptr;
    // Read-only, so that a missing or vanished file is never created, and
    // no long wait on a file the collector is still writing. One thread
    // uses the connection: no mutex.
    const int ouverture = sqlite3_open_v2(QFile::encodeName(chemin).constData(), &ouverte,
                                          SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    const std::unique_ptr<sqlite3, FermerBase> base(ouverte);
    if (ouverture != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(base.get(), 100);

    const auto executer = [&](const QByteArray &texte, const std::function<void(sqlite3_stmt *)> &lier,
                              const std::function<void(sqlite3_stmt *)> &ligne) {
        sqlite3_stmt *preparee = nullptr;
        if (sqlite3_prepare_v2(base.get(), texte.constData(), int(texte.size()), &preparee, nullptr) != SQLITE_OK)
            return false;
        const std::unique_ptr<sqlite3_stmt, FinirRequete> requete(preparee);
        lier(preparee);
        int etape = SQLITE_ROW;
        while ((etape = sqlite3_step(preparee)) == SQLITE_ROW)
            ligne(preparee);
        return etape == SQLITE_DONE;
    };
    struct Rapport
    {
        qint64 tranche = 0;
        double temps = 0;
    };
    QHash<qint64, Rapport> rapports; // by id, those in the time range
    const int mesuresHyperviseur = int(colonnesHyperviseur().size());
    const int mesuresVM = int(colonnesVM().size());
    const auto lierHyperviseur = [&demande](sqlite3_stmt *r) {
        sqlite3_bind_int64(r, 1, demande.depuis);
        sqlite3_bind_int64(r, 2, demande.pas);
        sqlite3_bind_text(r, 3, demande.nom.constData(), int(demande.nom.size()), SQLITE_STATIC);
        sqlite3_bind_int64(r, 4, demande.jusqua);
    };
    const auto ligneHyperviseur = [&](sqlite3_stmt *r) {
        const Rapport rapport{sqlite3_column_int64(r, 1), sqlite3_column_double(r, 2)};
        rapports.insert(sqlite3_column_int64(r, 0), rapport);
        lecture.hyperviseur[rapport.tranche].ajouter(rapport.temps, r, 3, mesuresHyperviseur);
    };
    const auto lierVMs = [&demande](sqlite3_stmt *r) {
        sqlite3_bind_text(r, 1, demande.nom.constData(), int(demande.nom.size()), SQLITE_STATIC);
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
        lecture.vm(nom, tailleNom, uuid, tailleUuid).cumuls[rapport->tranche].ajouter(rapport->temps, r, 3, mesuresVM);
    };
    return executer(texteHyperviseur(), lierHyperviseur, ligneHyperviseur) && executer(texteVMs(), lierVMs, ligneVM);
}

QJsonObject series(const Serie &cumuls, const QStringList &noms)
{
    QJsonArray t;
    std::array<QJsonArray, colonnesMaximum> valeurs;
    for (const Cumul &cumul : cumuls) {
        t.append(std::round(cumul.sommeTemps / double(cumul.lignes)));
        for (size_t i = 0; i < size_t(noms.size()); ++i) {
            const qint64 n = cumul.nombre[i];
            valeurs[i].append(n > 0 ? QJsonValue(cumul.somme[i] / double(n)) : QJsonValue());
        }
    }
    QJsonObject objet{{QStringLiteral("t"), t}};
    for (int i = 0; i < noms.size(); ++i)
        objet.insert(noms.at(i), valeurs[size_t(i)]);
    return objet;
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

QByteArray LecteurHistorique::lire(const QString &dossier, const QString &nom, qint64 depuis, qint64 jusqua, int points)
{
    Demande demande;
    demande.depuis = depuis;
    demande.jusqua = jusqua;
    demande.pas = qMax<qint64>(1, (jusqua - depuis + points) / qMax(points, 1));
    demande.nom = nom.toUtf8();
    const QVector<Fichier> choisis = fichiers(dossier, depuis, jusqua);

    // A host's rows are spread over the whole of each file: reading them is
    // SQLite's work, file by file, so the files are shared out between
    // threads, each taking the next one left.
    QAtomicInt suivant;
    const auto lireFichiers = [&](Lecture &lecture) {
        for (int i = suivant.fetchAndAddRelaxed(1); i < choisis.size(); i = suivant.fetchAndAddRelaxed(1))
            lecture.illisibles += lireFichier(choisis.at(i).chemin, demande, lecture) ? 0 : 1;
    };
    const int fils = qBound(1, qMin(QThread::idealThreadCount(), filsMaximum), int(choisis.size()));
    std::vector<Lecture> lectures(static_cast<size_t>(fils));
    std::vector<std::thread> autres;
    for (size_t i = 1; i < lectures.size(); ++i)
        autres.emplace_back(lireFichiers, std::ref(lectures[i]));
    lireFichiers(lectures[0]);
    for (std::thread &fil : autres)
        fil.join();
    Lecture &lecture = lectures[0];
    for (size_t i = 1; i < lectures.size(); ++i)
        lecture.ajouter(lectures[i]);

    std::vector<const SerieVM *> vms;
    for (const QHash<QByteArray, SerieVM> &parUuid : qAsConst(lecture.vms)) {
        for (const SerieVM &serie : parUuid)
            vms.push_back(&serie);
    }
    std::sort(vms.begin(), vms.end(), [](const SerieVM *a, const SerieVM *b) {
        return qMakePair(a->nom, a->uuid) < qMakePair(b->nom, b->uuid);
    });
    QJsonArray listeVMs;
    for (const SerieVM *serie : vms) {
        QJsonObject vm = series(serie->cumuls, colonnesVM());
        vm.insert(QStringLiteral("nom"), serie->nom);
        vm.insert(QStringLiteral("uuid"), serie->uuid);
        listeVMs.append(vm);
    }
    const QJsonObject resultat{{QStringLiteral("nom"), nom},
                               {QStringLiteral("depuis"), double(depuis)},
                               {QStringLiteral("jusqua"), double(jusqua)},
                               {QStringLiteral("pas"), double(demande.pas)},
                               {QStringLiteral("fichiers"), int(choisis.size())},
                               {QStringLiteral("illisibles"), lecture.illisibles},
                               {QStringLiteral("hyperviseur"), series(lecture.hyperviseur, colonnesHyperviseur())},
                               {QStringLiteral("vms"), listeVMs}};
    return QJsonDocument(resultat).toJson(QJsonDocument::Compact);
}
