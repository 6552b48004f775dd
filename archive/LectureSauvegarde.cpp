// SPDX-License-Identifier: MIT
#include "LectureSauvegarde.h"

#include "FichierArchive.h"

#include <QByteArray>
#include <QFile>
#include <QVector>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

struct FermerBase
{
    void operator()(sqlite3 *base) const { sqlite3_close(base); }
};

struct FinirRequete
{
    void operator()(sqlite3_stmt *requete) const { sqlite3_finalize(requete); }
};

using Requete = std::unique_ptr<sqlite3_stmt, FinirRequete>;

// Ordered by name, so that each series is read whole before the next: the
// host rows are few and sorted by SQLite; the VM rows follow their name
// index, and each VM's points are put in time order here.
const QByteArray &texteHyperviseurs()
{
    static const QByteArray texte = "SELECT id, name, time, " + FichierArchive::sourcesHyperviseur().join(QStringLiteral(", ")).toLatin1()
                                    + " FROM InfosHyperviseurs ORDER BY name, time";
    return texte;
}

const QByteArray &texteVMs()
{
    static const QByteArray texte = "SELECT idinfos, name, " + FichierArchive::sourcesVM().join(QStringLiteral(", ")).toLatin1()
                                    + " FROM InfosVMs ORDER BY name";
    return texte;
}

double nombre(sqlite3_stmt *ligne, int colonne)
{
    const int type = sqlite3_column_type(ligne, colonne);
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
        return sqlite3_column_double(ligne, colonne);
    return std::numeric_limits<double>::quiet_NaN();
}

QByteArray texte(sqlite3_stmt *ligne, int colonne)
{
    const auto *octets = reinterpret_cast<const char *>(sqlite3_column_text(ligne, colonne));
    return QByteArray(octets ? octets : "", sqlite3_column_bytes(ligne, colonne));
}

// Sorted by time, each second once, its values the first known ones.
void ordonner(MesuresSerie &mesures)
{
    auto &points = mesures.points;
    std::stable_sort(points.begin(), points.end(),
                     [](const MesuresSerie::Point &a, const MesuresSerie::Point &b) { return a.temps < b.temps; });
    size_t garde = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (garde > 0 && points[garde - 1].temps == points[i].temps) {
            auto &valeurs = points[garde - 1].valeurs;
            for (size_t s = 0; s < valeurs.size(); ++s) {
                if (std::isnan(valeurs[s]))
                    valeurs[s] = points[i].valeurs[s];
            }
        } else {
            points[garde++] = points[i];
        }
    }
    points.resize(garde);
}

bool classerErreur(int code)
{
    switch (code & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_ERROR:
    case SQLITE_FORMAT:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
        return true;
    default:
        return false;
    }
}

} // namespace

LectureSauvegarde::Resultat LectureSauvegarde::lire(const QString &chemin, const Serie &serie)
{
    sqlite3 *ouverte = nullptr;
    const int ouverture = sqlite3_open_v2(QFile::encodeName(chemin).constData(), &ouverte,
                                          SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    const std::unique_ptr<sqlite3, FermerBase> base(ouverte);
    const auto echec = [&](int code) {
        m_erreur = QString::fromUtf8(base ? sqlite3_errmsg(base.get()) : sqlite3_errstr(code));
        return classerErreur(code) ? Illisible : Echec;
    };
    if (ouverture != SQLITE_OK)
        return echec(ouverture);
    sqlite3_extended_result_codes(base.get(), 1);
    // A whole file is read once, front to back for the hosts and along the
    // name index for the VMs: mapped, its pages cost no read call each.
    sqlite3_exec(base.get(), "PRAGMA mmap_size = 4294967296", nullptr, nullptr, nullptr);

    const auto preparer = [&](const char *sql, Requete &requete) {
        sqlite3_stmt *preparee = nullptr;
        const int code = sqlite3_prepare_v2(base.get(), sql, -1, &preparee, nullptr);
        requete.reset(preparee);
        return code;
    };

    // Each host row's series and time, for its VMs' rows.
    struct Rapport
    {
        int hyperviseur;
        qint64 temps;
    };
    std::unordered_map<qint64, Rapport> rapports;
    QVector<QString> hyperviseurs;
    Requete requete;
    int code = preparer(texteHyperviseurs().constData(), requete);
    if (code != SQLITE_OK)
        return echec(code);
    QByteArray nomCourant;
    MesuresSerie mesures;
    const auto finirHyperviseur = [&]() {
        if (hyperviseurs.isEmpty() || mesures.points.empty())
            return true;
        ordonner(mesures);
        return serie(hyperviseurs.constLast(), QString(), mesures);
    };
    while ((code = sqlite3_step(requete.get())) == SQLITE_ROW) {
        const QByteArray nom = texte(requete.get(), 1);
        if (hyperviseurs.isEmpty() || nom != nomCourant) {
            if (!finirHyperviseur())
                return Interrompue;
            nomCourant = nom;
            hyperviseurs.append(QString::fromUtf8(nom));
            mesures = MesuresSerie{int(FichierArchive::sourcesHyperviseur().size()), {}};
        }
        const double temps = nombre(requete.get(), 2);
        if (std::isnan(temps))
            continue;
        MesuresSerie::Point point;
        point.temps = qint64(temps);
        for (int i = 0; i < mesures.sources; ++i)
            point.valeurs[size_t(i)] = nombre(requete.get(), 3 + i);
        mesures.points.push_back(point);
        rapports.emplace(sqlite3_column_int64(requete.get(), 0), Rapport{int(hyperviseurs.size() - 1), point.temps});
    }
    if (code != SQLITE_DONE)
        return echec(code);
    if (!finirHyperviseur())
        return Interrompue;

    code = preparer(texteVMs().constData(), requete);
    if (code != SQLITE_OK)
        return echec(code);
    // One VM name at a time, split by host.
    std::vector<std::pair<int, MesuresSerie>> parHyperviseur;
    std::unordered_map<int, size_t> places;
    const auto finirVM = [&]() {
        const QString vm = QString::fromUtf8(nomCourant);
        for (auto &[hyperviseur, points] : parHyperviseur) {
            ordonner(points);
            if (!serie(hyperviseurs.at(hyperviseur), vm, points))
                return false;
        }
        parHyperviseur.clear();
        places.clear();
        return true;
    };
    bool premiere = true;
    while ((code = sqlite3_step(requete.get())) == SQLITE_ROW) {
        const auto *nom = reinterpret_cast<const char *>(sqlite3_column_text(requete.get(), 1));
        const int taille = sqlite3_column_bytes(requete.get(), 1);
        if (premiere || nomCourant != QByteArray::fromRawData(nom ? nom : "", taille)) {
            if (!premiere && !finirVM())
                return Interrompue;
            premiere = false;
            nomCourant = QByteArray(nom ? nom : "", taille);
        }
        const auto rapport = rapports.find(sqlite3_column_int64(requete.get(), 0));
        if (rapport == rapports.end())
            continue;
        const int hyperviseur = rapport->second.hyperviseur;
        const auto place = places.emplace(hyperviseur, parHyperviseur.size());
        if (place.second)
            parHyperviseur.push_back({hyperviseur, MesuresSerie{int(FichierArchive::sourcesVM().size()), {}}});
        MesuresSerie &cible = parHyperviseur[place.first->second].second;
        MesuresSerie::Point point;
        point.temps = rapport->second.temps;
        for (int i = 0; i < cible.sources; ++i)
            point.valeurs[size_t(i)] = nombre(requete.get(), 2 + i);
        cible.points.push_back(point);
    }
    if (code != SQLITE_DONE)
        return echec(code);
    if (!premiere && !finirVM())
        return Interrompue;
    return Lue;
}
