#include "LecteurHistorique.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <array>
#include <cmath>

namespace {

const QStringList &colonnesHyperviseur()
{
    static const QStringList colonnes{QStringLiteral("cpu"),     QStringLiteral("ram"),     QStringLiteral("disk"),
                                      QStringLiteral("network"), QStringLiteral("cputemp"), QStringLiteral("mbtemp")};
    return colonnes;
}

const QStringList &colonnesVM()
{
    static const QStringList colonnes{QStringLiteral("cpu"), QStringLiteral("ram"), QStringLiteral("maxram"),
                                      QStringLiteral("network"), QStringLiteral("state")};
    return colonnes;
}

// The collector stores whatever a report held: a text where a number was
// expected is left out of the averages rather than counted as 0.
QString sommes(const QString &table, const QStringList &colonnes)
{
    QString texte;
    for (const QString &colonne : colonnes) {
        const QString nombre = QStringLiteral("typeof(%1.%2) IN ('integer','real')").arg(table, colonne);
        texte += QStringLiteral(", SUM(CASE WHEN %1 THEN %2.%3 END), COUNT(CASE WHEN %1 THEN 1 END)")
                     .arg(nombre, table, colonne);
    }
    return texte;
}

template <int N>
struct Cumul
{
    qint64 lignes = 0;
    double sommeTemps = 0;
    std::array<double, N> somme{};
    std::array<qint64, N> nombre{};

    void ajouter(const QSqlQuery &requete, int premiere)
    {
        lignes += requete.value(premiere).toLongLong();
        sommeTemps += requete.value(premiere + 1).toDouble();
        for (int i = 0; i < N; ++i) {
            somme[size_t(i)] += requete.value(premiere + 2 + 2 * i).toDouble();
            nombre[size_t(i)] += requete.value(premiere + 3 + 2 * i).toLongLong();
        }
    }
};

template <int N>
QJsonObject series(const QMap<qint64, Cumul<N>> &cumuls, const QStringList &noms)
{
    QJsonArray t;
    std::array<QJsonArray, N> valeurs;
    for (const Cumul<N> &cumul : cumuls) {
        t.append(std::round(cumul.sommeTemps / double(cumul.lignes)));
        for (int i = 0; i < N; ++i) {
            const qint64 n = cumul.nombre[size_t(i)];
            valeurs[size_t(i)].append(n > 0 ? QJsonValue(cumul.somme[size_t(i)] / double(n)) : QJsonValue());
        }
    }
    QJsonObject objet{{QStringLiteral("t"), t}};
    for (int i = 0; i < N; ++i)
        objet.insert(noms.at(i), valeurs[size_t(i)]);
    return objet;
}

QString nomConnexion()
{
    static QAtomicInteger<quint64> compteur;
    return QStringLiteral("historique-%1").arg(compteur.fetchAndAddRelaxed(1));
}

} // namespace

QVector<LecteurHistorique::Fichier> LecteurHistorique::fichiers(const QString &dossier, qint64 depuis, qint64 jusqua)
{
    static const QRegularExpression motif(
        QStringLiteral("^collecteur(\\d\\d)-(\\d\\d)-(\\d{4})_(\\d\\d)-(\\d\\d)-(\\d\\d)\\.db$"));
    QVector<Fichier> choisis;
    const QFileInfoList entrees =
        QDir(dossier).entryInfoList({QStringLiteral("collecteur*.db")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &entree : entrees) {
        const QRegularExpressionMatch correspondance = motif.match(entree.fileName());
        if (!correspondance.hasMatch())
            continue;
        const QDateTime instant = QDateTime::fromString(entree.fileName().mid(10, 19), QStringLiteral("dd-MM-yyyy_hh-mm-ss"));
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
    const qint64 pas = qMax<qint64>(1, (jusqua - depuis + points) / qMax(points, 1));
    const QVector<Fichier> choisis = fichiers(dossier, depuis, jusqua);

    QMap<qint64, Cumul<6>> hyperviseur;
    QMap<QPair<QString, QString>, QMap<qint64, Cumul<5>>> vms;
    int illisibles = 0;

    // "+h.time" keeps SQLite from the time index, which a range of whole
    // files makes it prefer: the name index reads one host's rows, the time
    // index the whole fleet's.
    const QString texteHyperviseur =
        QStringLiteral("SELECT (CAST(h.time AS INTEGER) - :origine) / :pas AS b, COUNT(*), SUM(h.time)%1 "
                       "FROM InfosHyperviseurs h WHERE h.name = :nom AND +h.time BETWEEN :depuis AND :jusqua GROUP BY b")
            .arg(sommes(QStringLiteral("h"), colonnesHyperviseur()));
    const QString texteVMs =
        QStringLiteral("SELECT v.name, v.uuid, (CAST(h.time AS INTEGER) - :origine) / :pas AS b, COUNT(*), SUM(h.time)%1 "
                       "FROM InfosHyperviseurs h JOIN InfosVMs v ON v.idinfos = h.id "
                       "WHERE h.name = :nom AND +h.time BETWEEN :depuis AND :jusqua GROUP BY v.name, v.uuid, b")
            .arg(sommes(QStringLiteral("v"), colonnesVM()));

    for (const Fichier &fichier : choisis) {
        const QString connexion = nomConnexion();
        {
            QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connexion);
            // Read-only, so that a missing or vanished file is never created,
            // and no long wait on a file the collector is still writing.
            base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=100"));
            base.setDatabaseName(fichier.chemin);
            bool lu = base.open();
            if (lu) {
                QSqlQuery requete(base);
                requete.setForwardOnly(true);
                const auto lier = [&]() {
                    // Each name once in a statement: Qt 5 binds a repeated name only once.
                    requete.bindValue(QStringLiteral(":origine"), depuis);
                    requete.bindValue(QStringLiteral(":depuis"), depuis);
                    requete.bindValue(QStringLiteral(":jusqua"), jusqua);
                    requete.bindValue(QStringLiteral(":pas"), pas);
                    requete.bindValue(QStringLiteral(":nom"), nom);
                };
                lu = requete.prepare(texteHyperviseur);
                lier();
                lu = lu && requete.exec();
                while (lu && requete.next())
                    hyperviseur[requete.value(0).toLongLong()].ajouter(requete, 1);
                lu = lu && requete.prepare(texteVMs);
                lier();
                lu = lu && requete.exec();
                while (lu && requete.next()) {
                    const auto cle = qMakePair(requete.value(0).toString(), requete.value(1).toString());
                    vms[cle][requete.value(2).toLongLong()].ajouter(requete, 3);
                }
            }
            illisibles += lu ? 0 : 1;
            base.close();
        }
        QSqlDatabase::removeDatabase(connexion);
    }

    QJsonArray listeVMs;
    for (auto it = vms.constBegin(); it != vms.constEnd(); ++it) {
        QJsonObject vm = series<5>(it.value(), colonnesVM());
        vm.insert(QStringLiteral("nom"), it.key().first);
        vm.insert(QStringLiteral("uuid"), it.key().second);
        listeVMs.append(vm);
    }
    const QJsonObject resultat{{QStringLiteral("nom"), nom},
                               {QStringLiteral("depuis"), double(depuis)},
                               {QStringLiteral("jusqua"), double(jusqua)},
                               {QStringLiteral("pas"), double(pas)},
                               {QStringLiteral("fichiers"), int(choisis.size())},
                               {QStringLiteral("illisibles"), illisibles},
                               {QStringLiteral("hyperviseur"), series<6>(hyperviseur, colonnesHyperviseur())},
                               {QStringLiteral("vms"), listeVMs}};
    return QJsonDocument(resultat).toJson(QJsonDocument::Compact);
}
