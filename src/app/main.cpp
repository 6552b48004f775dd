#include "ArretSignaux.h"
#include "Console.h"
#include "GestionBDD.h"
#include "HyperviseurUDPSocket.h"
#include "LigneCommande.h"

#include <QCoreApplication>
#include <QThread>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // First, so that a stop requested during start-up waits for the event loop.
    ArretSignaux arret;

    const quint16 port = LigneCommande::portUdp(QCoreApplication::arguments());
    Console::ecrire(QStringLiteral("Ecoute sur le port %1").arg(port));

    auto *recepteur = new HyperviseurUDPSocket(port, nullptr);
    if (recepteur->state() != QAbstractSocket::BoundState) {
        // A collector that cannot receive must not look as if it were listening.
        Console::ecrire(QStringLiteral("Impossible de lier le port UDP %1 : %2").arg(port).arg(recepteur->errorString()));
        return 1;
    }

    // The display server and the store are created here, then connected to
    // the receiver's report signal once the reception thread runs.
    new GestionBDD(nullptr);

    auto *threadReception = new QThread(nullptr);
    recepteur->moveToThread(threadReception);
    QObject::connect(threadReception, &QThread::finished, recepteur, &QObject::deleteLater);
    threadReception->start();

    QObject::connect(&arret, &ArretSignaux::arretDemande, &application, [recepteur, threadReception] {
        // What was read, or still waits in the kernel's buffer, reaches the
        // display clients and the last backup before the loop ends.
        QMetaObject::invokeMethod(recepteur, "lireDatagrammes", Qt::BlockingQueuedConnection);
        threadReception->quit();
        threadReception->wait();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::quit();
    });

    const int resultat = application.exec();

    threadReception->quit();
    threadReception->wait();
    delete threadReception;
    return resultat;
}
