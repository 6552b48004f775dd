// SPDX-License-Identifier: MIT
// The benchmark's baseline: the least a program must do to receive the
// collector's report datagrams on one UDP socket and store the same rows, in
// the same schema, in an in-memory SQLite database. One thread, blocking
// reads, statements prepared once, one transaction per report, as the
// collector stores them. It keeps no sequence table, prints nothing per
// report and relays nothing.
//
// On SIGTERM or SIGINT it reads what is left in the socket's buffer, prints
// its counts as key=value lines on standard output and, with --vacuum-into,
// times a VACUUM INTO of its whole database into that new file. With
// --charger it receives nothing: it loads a backup file into memory and
// times the VACUUM INTO of that data.

#include "ClesRapport.h"
#include "FichierSauvegarde.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t arretDemande = 0;

void arreter(int)
{
    arretDemande = 1;
}

[[noreturn]] void echec(const char *quoi, const char *detail)
{
    std::fprintf(stderr, "collecteur-bench-reference : %s : %s\n", quoi, detail);
    std::exit(1);
}

void executer(sqlite3 *base, const char *sql)
{
    char *erreur = nullptr;
    if (sqlite3_exec(base, sql, nullptr, nullptr, &erreur) != SQLITE_OK)
        echec(sql, erreur ? erreur : "?");
}

sqlite3_stmt *preparer(sqlite3 *base, const char *sql)
{
    sqlite3_stmt *requete = nullptr;
    if (sqlite3_prepare_v3(base, sql, -1, SQLITE_PREPARE_PERSISTENT, &requete, nullptr) != SQLITE_OK)
        echec(sql, sqlite3_errmsg(base));
    return requete;
}

// The backup file's own schema, indexes and foreign keys included, so that
// both programs pay for the same rows.
void creerSchema(sqlite3 *base)
{
    executer(base, "PRAGMA foreign_keys = ON;");
    for (const QString &instruction : FichierSauvegarde::schema())
        executer(base, instruction.toUtf8().constData());
}

// Every column of the report's keys, bound by position; with `idinfos`, the
// hypervisor row's id first, as the store binds it.
QByteArray insertion(const QString &table, const QVector<ClesRapport::Cle> &cles, bool idinfos)
{
    QStringList colonnes = ClesRapport::noms(cles);
    if (idinfos)
        colonnes.prepend(QStringLiteral("idinfos"));
    QStringList marques;
    for (int i = 0; i < colonnes.size(); ++i)
        marques << QStringLiteral("?");
    return QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
        .arg(table, colonnes.join(QStringLiteral(", ")), marques.join(QStringLiteral(", ")))
        .toUtf8();
}

void lier(sqlite3_stmt *requete, int indice, const QJsonValue &valeur)
{
    switch (valeur.type()) {
    case QJsonValue::String: {
        const QByteArray texte = valeur.toString().toUtf8();
        sqlite3_bind_text(requete, indice, texte.constData(), texte.size(), SQLITE_TRANSIENT);
        break;
    }
    case QJsonValue::Double:
        sqlite3_bind_double(requete, indice, valeur.toDouble());
        break;
    case QJsonValue::Bool:
        sqlite3_bind_int(requete, indice, valeur.toBool() ? 1 : 0);
        break;
    default:
        sqlite3_bind_null(requete, indice);
        break;
    }
}

struct Stockage
{
    sqlite3 *base = nullptr;
    sqlite3_stmt *debut = nullptr;
    sqlite3_stmt *fin = nullptr;
    sqlite3_stmt *hyperviseur = nullptr;
    sqlite3_stmt *vm = nullptr;
    long long erreurs = 0;

    void pas(sqlite3_stmt *requete)
    {
        if (sqlite3_step(requete) != SQLITE_DONE)
            ++erreurs;
        sqlite3_reset(requete);
    }

    void stocker(const char *texte, int longueur)
    {
        QJsonParseError erreur{};
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(texte, longueur), &erreur);
        if (erreur.error != QJsonParseError::NoError) {
            ++erreurs;
            return;
        }
        const QJsonObject rapport = document.object();
        const QVector<ClesRapport::Cle> &clesHyperviseur = ClesRapport::hyperviseur();
        const QVector<ClesRapport::Cle> &clesVm = ClesRapport::vm();

        pas(debut);
        for (int i = 0; i < clesHyperviseur.size(); ++i)
            lier(hyperviseur, i + 1, rapport.value(clesHyperviseur[i].nom));
        pas(hyperviseur);
        const sqlite3_int64 id = sqlite3_last_insert_rowid(base);
        const QJsonArray vms = rapport.value(ClesRapport::vms).toArray();
        for (const QJsonValue &valeur : vms) {
            const QJsonObject machine = valeur.toObject();
            sqlite3_bind_int64(vm, 1, id);
            for (int i = 0; i < clesVm.size(); ++i)
                lier(vm, i + 2, machine.value(clesVm[i].nom));
            pas(vm);
        }
        pas(fin);
    }

    long long lignes(const QString &table)
    {
        sqlite3_stmt *requete = preparer(base, (QStringLiteral("SELECT count(*) FROM ") + table).toUtf8().constData());
        long long n = sqlite3_step(requete) == SQLITE_ROW ? sqlite3_column_int64(requete, 0) : -1;
        sqlite3_finalize(requete);
        return n;
    }
};

long long picMemoire()
{
    long long octets = 0;
    if (FILE *statut = std::fopen("/proc/self/status", "r")) {
        char ligne[256];
        while (std::fgets(ligne, sizeof ligne, statut)) {
            if (std::strncmp(ligne, "VmHWM:", 6) == 0)
                octets = std::atoll(ligne + 6) * 1024;
        }
        std::fclose(statut);
    }
    return octets;
}

unsigned pertesNoyau(int descripteur)
{
    unsigned memoire[SK_MEMINFO_VARS] = {};
    socklen_t taille = sizeof memoire;
    if (getsockopt(descripteur, SOL_SOCKET, SO_MEMINFO, memoire, &taille) != 0 || taille <= SK_MEMINFO_DROPS * sizeof(unsigned))
        return 0;
    return memoire[SK_MEMINFO_DROPS];
}

// The same 4-byte sequence number and zero-terminated text as the collector.
bool traiter(Stockage &stockage, const char *datagramme, ssize_t taille)
{
    if (taille < 0)
        return false;
    const char *texte = datagramme + (taille < 4 ? taille : 4);
    const int longueur = int(strnlen(texte, size_t(taille - (texte - datagramme))));
    stockage.stocker(texte, longueur);
    return true;
}

} // namespace

// Times VACUUM INTO of the whole database into a new file.
void vacuumInto(sqlite3 *base, const std::string &fichier)
{
    sqlite3_stmt *requete = preparer(base, "VACUUM INTO ?");
    sqlite3_bind_text(requete, 1, fichier.c_str(), -1, SQLITE_TRANSIENT);
    const auto debut = std::chrono::steady_clock::now();
    const int resultat = sqlite3_step(requete);
    const double secondes = std::chrono::duration<double>(std::chrono::steady_clock::now() - debut).count();
    if (resultat != SQLITE_DONE)
        echec("VACUUM INTO", sqlite3_errmsg(base));
    sqlite3_finalize(requete);
    std::printf("vacuum_into_s=%.3f\n", secondes);
    std::fflush(stdout);
}

// Loads a backup file page by page into an in-memory database, then times
// VACUUM INTO of that same data.
int charger(const std::string &source, const std::string &vacuum)
{
    Stockage stockage;
    sqlite3 *fichier = nullptr;
    if (sqlite3_open_v2(source.c_str(), &fichier, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        echec(source.c_str(), sqlite3_errmsg(fichier));
    if (sqlite3_open(":memory:", &stockage.base) != SQLITE_OK)
        echec("sqlite3_open", sqlite3_errmsg(stockage.base));
    sqlite3_backup *copie = sqlite3_backup_init(stockage.base, "main", fichier, "main");
    if (!copie || sqlite3_backup_step(copie, -1) != SQLITE_DONE)
        echec("sqlite3_backup", sqlite3_errmsg(stockage.base));
    sqlite3_backup_finish(copie);
    sqlite3_close(fichier);
    std::printf("lignes_hyperviseurs=%lld\nlignes_vms=%lld\nvmhwm_octets=%lld\n",
                stockage.lignes(FichierSauvegarde::tableHyperviseurs()),
                stockage.lignes(FichierSauvegarde::tableVMs()), picMemoire());
    if (!vacuum.empty())
        vacuumInto(stockage.base, vacuum);
    sqlite3_close(stockage.base);
    return 0;
}

int main(int argc, char *argv[])
{
    int port = 55000;
    std::string vacuum;
    std::string source;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--port=", 0) == 0)
            port = std::atoi(argument.c_str() + 7);
        else if (argument.rfind("--vacuum-into=", 0) == 0)
            vacuum = argument.substr(14);
        else if (argument.rfind("--charger=", 0) == 0)
            source = argument.substr(10);
        else {
            std::fprintf(stderr, "Usage : %s [--port=N | --charger=FICHIER] [--vacuum-into=FICHIER]\n", argv[0]);
            return 2;
        }
    }
    if (!source.empty())
        return charger(source, vacuum);

    struct sigaction action {};
    action.sa_handler = arreter;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int descripteur = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descripteur < 0)
        echec("socket", std::strerror(errno));
    // The collector's own receive buffer request.
    int tampon = 8 * 1024 * 1024;
    if (setsockopt(descripteur, SOL_SOCKET, SO_RCVBUFFORCE, &tampon, sizeof tampon) != 0)
        setsockopt(descripteur, SOL_SOCKET, SO_RCVBUF, &tampon, sizeof tampon);
    // The stop request is seen within this delay even without traffic.
    const timeval attente{0, 100000};
    setsockopt(descripteur, SOL_SOCKET, SO_RCVTIMEO, &attente, sizeof attente);
    sockaddr_in adresse{};
    adresse.sin_family = AF_INET;
    adresse.sin_addr.s_addr = htonl(INADDR_ANY);
    adresse.sin_port = htons(uint16_t(port));
    if (bind(descripteur, reinterpret_cast<sockaddr *>(&adresse), sizeof adresse) != 0)
        echec("bind", std::strerror(errno));
    const unsigned pertesInitiales = pertesNoyau(descripteur);

    Stockage stockage;
    if (sqlite3_open(":memory:", &stockage.base) != SQLITE_OK)
        echec("sqlite3_open", sqlite3_errmsg(stockage.base));
    creerSchema(stockage.base);
    stockage.debut = preparer(stockage.base, "BEGIN");
    stockage.fin = preparer(stockage.base, "COMMIT");
    stockage.hyperviseur = preparer(stockage.base,
        insertion(FichierSauvegarde::tableHyperviseurs(), ClesRapport::hyperviseur(), false).constData());
    stockage.vm = preparer(stockage.base, insertion(FichierSauvegarde::tableVMs(), ClesRapport::vm(), true).constData());

    std::printf("pret port=%d\n", port);
    std::fflush(stdout);

    std::vector<char> datagramme(65536);
    long long avantArret = 0;
    while (arretDemande == 0) {
        const ssize_t taille = recv(descripteur, datagramme.data(), datagramme.size(), 0);
        if (traiter(stockage, datagramme.data(), taille))
            ++avantArret;
    }
    long long apresArret = 0;
    while (traiter(stockage, datagramme.data(), recv(descripteur, datagramme.data(), datagramme.size(), MSG_DONTWAIT)))
        ++apresArret;

    std::printf("recus=%lld\navant_arret=%lld\napres_arret=%lld\nlignes_hyperviseurs=%lld\nlignes_vms=%lld\n"
                "erreurs=%lld\npertes_noyau=%u\nvmhwm_octets=%lld\n",
                avantArret + apresArret, avantArret, apresArret,
                stockage.lignes(FichierSauvegarde::tableHyperviseurs()),
                stockage.lignes(FichierSauvegarde::tableVMs()), stockage.erreurs,
                pertesNoyau(descripteur) - pertesInitiales, picMemoire());
    std::fflush(stdout);

    if (!vacuum.empty())
        vacuumInto(stockage.base, vacuum);

    for (sqlite3_stmt *requete : {stockage.debut, stockage.fin, stockage.hyperviseur, stockage.vm})
        sqlite3_finalize(requete);
    sqlite3_close(stockage.base);
    close(descripteur);
    return 0;
}
