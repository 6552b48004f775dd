#include "AfficheurSocket.h"

#include "AfficheurSocketThread.h"
#include "Console.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QThread>

namespace {

// Longer than a connection's own flush delay on closing, so that only a
// thread that is truly stuck is given up on.
constexpr int DelaiArretMs = 5000;

} // namespace

AfficheurSocket::AfficheurSocket(quint16 port, QObject *parent)
    : QTcpServer(parent)
{
    // AnyIPv4: display clients connect over IPv4 and are named by their
    // dotted-decimal address.
    if (!listen(QHostAddress::AnyIPv4, port))
        Console::ecrire(QStringLiteral("Impossible d'écouter sur le port TCP %1 : %2").arg(port).arg(errorString()));

    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &AfficheurSocket::fermerConnexions);
}

AfficheurSocket::~AfficheurSocket()
{
    // The connection threads are children: they must have ended before the
    // base destructor deletes them.
    fermerConnexions();
}

void AfficheurSocket::receptionDonnees(QString donnees)
{
    emit nouvellesDonnees(donnees);
}

void AfficheurSocket::incomingConnection(qintptr socketDescriptor)
{
    Console::ecrire("Nouvelle connexion : ", socketDescriptor);

    auto *connexion = new AfficheurSocketThread(socketDescriptor, nullptr);
    // Owned by the server so that the stop can find it; deleted as soon as it
    // has finished, so that clients coming and going leave nothing behind.
    auto *thread = new QThread(this);
    connexion->moveToThread(thread);
    connect(this, &AfficheurSocket::nouvellesDonnees, connexion, &AfficheurSocketThread::receptionDonnees);
    connect(this, &AfficheurSocket::fermetureDemandee, connexion, &AfficheurSocketThread::fermer);
    // Direct: while the application stops, the main thread is blocked waiting
    // for this thread and would never run a queued quit().
    connect(connexion, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void AfficheurSocket::fermerConnexions()
{
    close();
    emit fermetureDemandee(QPrivateSignal());

    const QDeadlineTimer delai(DelaiArretMs);
    const QList<QThread *> threads = findChildren<QThread *>(QString(), Qt::FindDirectChildrenOnly);
    for (QThread *thread : threads) {
        if (thread->wait(delai)) {
            delete thread;
        } else {
            Console::ecrire("Le thread d'une connexion ne s'est pas arrêté.");
            // Deleting a running thread would abort the process.
            thread->setParent(nullptr);
        }
    }
}
