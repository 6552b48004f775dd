// SPDX-License-Identifier: MIT
#include "AfficheurSocket.h"
#include "ArretSignaux.h"
#include "Console.h"
#include "DecodeurRapports.h"
#include "FileRapports.h"
#include "GestionBDD.h"
#include "HyperviseurUDPSocket.h"
#include "LigneCommande.h"

#include <QCoreApplication>
#include <QThread>

#include <memory>

#include <sqlite3.h>
#include <sys/resource.h>

namespace {
constexpr quint16 portAffichage = 56000;

// Every display client costs descriptors; the usual soft limit of 1024 is
// far below what the system lets the process have.
void leverLimiteDescripteurs()
{
    struct rlimit limite;
    if (::getrlimit(RLIMIT_NOFILE, &limite) == 0 && limite.rlim_cur < limite.rlim_max) {
        limite.rlim_cur = limite.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limite);
    }
}
} // namespace

int main(int argc, char *argv[])
{
    // Before any connection exists. Each connection is used by one thread
    // only, so SQLite's lock around every call, and its count of the memory
    // it holds (a lock around every allocation), are pure cost on the
    // store's busiest path.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // Qt's own event loop rather than GLib's, in every thread: it wakes a
    // thread once for any number of events posted meanwhile, where GLib's
    // writes its wake-up descriptor for each one, and a report posts one to
    // every display connection.
    qputenv("QT_NO_GLIB", "1");

    QCoreApplication application(argc, argv);
    // First, so that a stop requested during start-up waits for the event loop.
    ArretSignaux arret;

    leverLimiteDescripteurs();

    const QStringList arguments = QCoreApplication::arguments();
    const int clientsMax = LigneCommande::clientsMax(arguments, AfficheurSocket::clientsMaxParDefaut);
    if (clientsMax < 0) {
        Console::ecrire(QStringLiteral("Valeur invalide pour --clients-max (un nombre de 1 à 65535 est attendu)."));
        return 2;
    }
    const int journal = LigneCommande::journal(arguments);
    if (journal < 0) {
        Console::ecrire(QStringLiteral("Valeur invalide pour --journal (seule la valeur aucun est reconnue)."));
        return 2;
    }
    const quint16 port = LigneCommande::portUdp(arguments);
    Console::ecrire(QStringLiteral("Ecoute sur le port %1").arg(port));

    auto *recepteur = new HyperviseurUDPSocket(port, nullptr);
    if (recepteur->state() != QAbstractSocket::BoundState) {
        // A collector that cannot receive must not look as if it were listening.
        Console::ecrire(QStringLiteral("Impossible de lier le port UDP %1 : %2").arg(port).arg(recepteur->errorString()));
        delete recepteur;
        return 1;
    }

    // The display server connects itself to aboutToQuit, ahead of the
    // store's last backup below: its clients get their last frames first.
    std::unique_ptr<AfficheurSocket> affichage(new AfficheurSocket(portAffichage, nullptr, clientsMax));

    // The store works in a thread of its own, so that a backup never holds up
    // the relay. It is built there: an SQL connection belongs to the thread
    // that opens it.
    std::unique_ptr<QThread> threadStockage(new QThread(nullptr));
    threadStockage->start();
    if (!threadStockage->isRunning()) {
        Console::ecrire(QStringLiteral("Impossible de démarrer le thread du stockage."));
        return 1;
    }
    GestionBDD *stockage = nullptr;
    // Reports go from the receiver to the decoder, then to the store, each
    // in its own thread. The queues outlive the threads, which are stopped
    // before main returns.
    FileRapports recus;
    FileRapports decodes;
    QObject *contexte = new QObject;
    contexte->moveToThread(threadStockage.get());
    QMetaObject::invokeMethod(
        contexte,
        [&stockage, &decodes, journal] {
            stockage = new GestionBDD(nullptr);
            // Before any report arrives: what a crash left is stored first.
            if (journal)
                stockage->activerJournal(QStringLiteral("."));
            stockage->suivreFile(&decodes);
        },
        Qt::BlockingQueuedConnection);
    contexte->deleteLater();
    QObject::connect(threadStockage.get(), &QThread::finished, stockage, &QObject::deleteLater);
    // The store writes its last backup, the quitting application waiting for
    // it, after every report already queued.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, stockage, &GestionBDD::sauvegarderBDD,
                     Qt::BlockingQueuedConnection);

    std::unique_ptr<QThread> threadDecodage(new QThread(nullptr));
    auto *decodeur = new DecodeurRapports(&recus, &decodes, nullptr);
    decodeur->moveToThread(threadDecodage.get());
    QObject::connect(threadDecodage.get(), &QThread::finished, decodeur, &QObject::deleteLater);
    threadDecodage->start();
    if (!threadDecodage->isRunning()) {
        Console::ecrire(QStringLiteral("Impossible de démarrer le thread du décodage."));
        return 1;
    }

    std::unique_ptr<QThread> threadReception(new QThread(nullptr));
    recepteur->moveToThread(threadReception.get());
    // The receiver's socket notifier must be released in the thread that uses it.
    QObject::connect(threadReception.get(), &QThread::finished, recepteur, &QObject::deleteLater);
    // Queued to the main thread, which accepts the display clients: a client
    // whose connection the system has already completed is served before
    // the reports read after it, from the first one on.
    QObject::connect(recepteur, &HyperviseurUDPSocket::nouvellesDonnes, affichage.get(), &AfficheurSocket::receptionDonnees);
    // Through the queues rather than one event per report: the decoder and
    // the store take a burst at once.
    QObject::connect(recepteur, &HyperviseurUDPSocket::nouvellesDonnes, &recus,
                     qOverload<const QString &>(&FileRapports::ajouter), Qt::DirectConnection);
    recus.differerReveil(true);
    QObject::connect(recepteur, &HyperviseurUDPSocket::datagrammesLus, &recus, &FileRapports::publier,
                     Qt::DirectConnection);

    // Only once everything is connected: a report read before would reach
    // neither the display clients nor the store.
    threadReception->start();
    if (!threadReception->isRunning()) {
        Console::ecrire(QStringLiteral("Impossible de démarrer le thread de réception."));
        return 1;
    }

    QThread *reception = threadReception.get();
    QObject::connect(&arret, &ArretSignaux::arretDemande, &application, [recepteur, reception, decodeur] {
        // What was read, or still waits in the kernel's buffer, reaches the
        // display clients and the last backup before the loop ends.
        QMetaObject::invokeMethod(recepteur, "lireDatagrammes", Qt::BlockingQueuedConnection);
        reception->quit();
        reception->wait();
        QMetaObject::invokeMethod(decodeur, &DecodeurRapports::decoder, Qt::BlockingQueuedConnection);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::quit();
    });

    const int resultat = QCoreApplication::exec();

    threadReception->quit();
    threadReception->wait();
    threadDecodage->quit();
    threadDecodage->wait();
    threadStockage->quit();
    threadStockage->wait();
    return resultat;
}
