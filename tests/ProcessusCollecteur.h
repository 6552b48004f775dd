// SPDX-License-Identifier: MIT
#ifndef PROCESSUSCOLLECTEUR_H
#define PROCESSUSCOLLECTEUR_H

#include "ConsoleProcessus.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

// For the tests that run the real collector (COLLECTEUR_BINAIRE): the process
// and its console, the backup files it leaves, a free UDP port.

// The real collecteur binary, run in a temporary directory, its console
// gathered line by line.
class ProcessusCollecteur
{
public:
    // `lanceur`: a command the collector is started through (prlimit,
    // setpriv), with its own arguments.
    explicit ProcessusCollecteur(const QStringList &arguments,
                                 const QProcessEnvironment &environnement = QProcessEnvironment::systemEnvironment(),
                                 const QStringList &lanceur = QStringList(), const QString &dossier = QString())
        : m_dossier(dossier)
    {
        QVERIFY(QFileInfo(m_dossier.dossier()).isDir());
        m_processus.setProcessEnvironment(environnement);
        m_processus.setWorkingDirectory(m_dossier.dossier());
        m_processus.setProgram(lanceur.isEmpty() ? QStringLiteral(COLLECTEUR_BINAIRE) : lanceur.first());
        m_processus.setArguments(lanceur.isEmpty() ? arguments
                                                   : lanceur.mid(1) + QStringList{QStringLiteral(COLLECTEUR_BINAIRE)} + arguments);
        m_processus.setProcessChannelMode(QProcess::SeparateChannels);
        m_processus.start();
        QVERIFY2(m_processus.waitForStarted(10000), qPrintable(m_processus.errorString()));
    }
    ~ProcessusCollecteur()
    {
        if (m_processus.state() != QProcess::NotRunning) {
            m_processus.kill();
            m_processus.waitForFinished(10000);
        }
    }

    QStringList lignes() { return m_console.lignes(); }
    bool attendreLigne(const QString &ligne, int delai = 10000) { return m_console.attendreLigne(ligne, delai); }
    bool attendreDemarrage(quint16 port)
    {
        return attendreLigne(QStringLiteral("\"Ecoute sur le port %1\" ").arg(port));
    }
    QString console() { return lignes().join(QLatin1Char('\n')); }
    QProcess &processus() { return m_processus; }
    QString dossier() const { return m_dossier.dossier(); }
    bool arreter(int signal = SIGTERM)
    {
        return ::kill(pid_t(m_processus.processId()), signal) == 0 && m_processus.waitForFinished(60000)
               && m_processus.exitStatus() == QProcess::NormalExit && m_processus.exitCode() == 0;
    }

private:
    // A temporary directory of its own, or one the test keeps across runs.
    class Dossier
    {
    public:
        explicit Dossier(const QString &chemin) : m_chemin(chemin) {}
        QString dossier() const { return m_chemin.isEmpty() ? m_temporaire.path() : m_chemin; }

    private:
        QString m_chemin;
        QTemporaryDir m_temporaire;
    };
    Dossier m_dossier;
    QProcess m_processus;
    ConsoleProcessus m_console{m_processus, false};
};

// The hypervisor names stored in a backup file, or nothing while the file
// is still being written (locked, or its tables not there yet).
inline QStringList hyperviseursSauvegardes(const QString &fichier)
{
    QStringList noms;
    {
        QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lecture"));
        base.setDatabaseName(fichier);
        base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (base.open()) {
            QSqlQuery requete(base);
            if (requete.exec(QStringLiteral("SELECT h.name || '/' || group_concat(v.name) FROM InfosHyperviseurs h "
                                            "JOIN InfosVMs v ON v.idinfos = h.id GROUP BY h.id ORDER BY h.id"))) {
                while (requete.next())
                    noms << requete.value(0).toString();
            }
        }
        base.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lecture"));
    return noms;
}

// The backup files of a directory, oldest first, with their time stamps.
inline QList<QPair<QString, QDateTime>> sauvegardes(const QString &dossier)
{
    static const QRegularExpression nom(QStringLiteral("^collecteur(\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d)\\.db$"));
    QList<QPair<QString, QDateTime>> resultat;
    for (const QString &fichier : QDir(dossier).entryList(QDir::Files)) {
        const QRegularExpressionMatch correspondance = nom.match(fichier);
        if (correspondance.hasMatch())
            resultat << qMakePair(QDir(dossier).filePath(fichier),
                                  QDateTime::fromString(correspondance.captured(1), QStringLiteral("dd-MM-yyyy_hh-mm-ss")));
    }
    std::sort(resultat.begin(), resultat.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
    return resultat;
}

// Every hypervisor row of every backup file of a directory, by name.
inline QHash<QString, int> lignesDesSauvegardes(const QString &dossier)
{
    QHash<QString, int> lignes;
    for (const auto &sauvegarde : sauvegardes(dossier)) {
        {
            QSqlDatabase base = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("union"));
            base.setDatabaseName(sauvegarde.first);
            base.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (base.open()) {
                QSqlQuery requete(base);
                requete.exec(QStringLiteral("SELECT name FROM InfosHyperviseurs"));
                while (requete.next())
                    ++lignes[requete.value(0).toString()];
            }
            base.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("union"));
    }
    return lignes;
}

// The line of a start that read back what the journal held.
inline QString ligneRelectureJournal(int rapports, int octets)
{
    return QStringLiteral("\"Journal relu après un arrêt brutal : %1 rapport(s) récupéré(s), %2 octet(s) d'un dernier "
                          "enregistrement incomplet ignoré(s).\" ")
        .arg(rapports)
        .arg(octets);
}

// The last line of a start, once the store is ready.
inline QString derniereLigneDuPilote()
{
    return QStringLiteral("\"  SUPPORTE le renvoi de l'ID de la dernière ligne insérée.\" ");
}

inline QString sauvegardeContenant(const QString &dossier, const QString &hyperviseur)
{
    for (const auto &sauvegarde : sauvegardes(dossier)) {
        if (hyperviseursSauvegardes(sauvegarde.first).contains(hyperviseur))
            return sauvegarde.first;
    }
    return QString();
}

#ifdef COLLECTEUR_FAKETIME
// An environment where the collector's clock, and with it its timers, runs
// one hour per second: libfaketime preloaded into the collector itself (the
// faketime command would stand between the test and the process). Empty
// when libfaketime is missing.
inline QProcessEnvironment heureParSeconde()
{
    const QString faketime = QStringLiteral(COLLECTEUR_FAKETIME);
    if (faketime.isEmpty() || !QFileInfo::exists(faketime))
        return QProcessEnvironment();
    QProcessEnvironment environnement = QProcessEnvironment::systemEnvironment();
    environnement.insert(QStringLiteral("LD_PRELOAD"), faketime);
    environnement.insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x3600"));
    return environnement;
}
#endif

inline quint16 portUdpLibre()
{
    QUdpSocket sonde;
    sonde.bind(QHostAddress::AnyIPv4, 0);
    return sonde.localPort();
}

#endif
