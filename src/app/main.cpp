// SPDX-License-Identifier: MIT
#include "AnalyseurOptions.h"
#include "ArretSignaux.h"
#include "Collecteur.h"
#include "Console.h"
#include "LigneCommande.h"

#include <QCoreApplication>

#include <sqlite3.h>
#include <sys/resource.h>

namespace {

// Before any connection exists and before the application object.
void preparerProcessus()
{
    // Each connection is used by one thread only, so SQLite's lock around
    // every call, and its count of the memory it holds (a lock around every
    // allocation), are pure cost on the store's busiest path.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // Qt's own event loop rather than GLib's, in every thread: it wakes a
    // thread once for any number of events posted meanwhile, where GLib's
    // writes its wake-up descriptor for each one, and a report posts one to
    // every display connection.
    qputenv("QT_NO_GLIB", "1");
}

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
    preparerProcessus();
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    // Before anything starts or any file is made.
    if (LigneCommande::aideDemandee(arguments))
        return AnalyseurOptions::terminer(AnalyseurOptions::Aide, LigneCommande::aide());
    // First, so that a stop requested during start-up waits for the event loop.
    ArretSignaux arret;
    leverLimiteDescripteurs();

    Collecteur::Parametres parametres;
    QString erreur;
    if (!LigneCommande::lire(arguments, parametres, erreur)) {
        Console::ecrire(erreur);
        return 2;
    }

    Collecteur collecteur(parametres);
    if (!collecteur.demarrer())
        return 1;
    // A last backup that failed leaves reports in no file: the exit status
    // says so to whoever stopped the collector.
    QObject::connect(&arret, &ArretSignaux::arretDemande, &application,
                     [&collecteur] { QCoreApplication::exit(collecteur.arreter() ? 0 : 1); });
    return QCoreApplication::exec();
}
