// SPDX-License-Identifier: MIT
#include "AfficheurSocket.h"

#include "Console.h"
#include "TrameAffichage.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMetaMethod>
#include <QThread>
#include <QTimer>

#include <climits>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Longer than a connection's own flush delay on closing, so that only a
// thread that is truly stuck is given up on.
constexpr int DelaiArretMs = 5000;
// After the system refused to hand over a connection (descriptors
// exhausted, say), accepting starts again after this delay instead of never.
constexpr int DelaiRepriseMs = 1000;
// Clients leaving in a burst give their memory back once, after the burst.
constexpr int DelaiRestitutionMs = 1000;

qint64 limiteDescripteurs()
{
    struct rlimit limite;
    if (::getrlimit(RLIMIT_NOFILE, &limite) != 0 || limite.rlim_cur == RLIM_INFINITY)
        return LLONG_MAX;
    return qint64(limite.rlim_cur);
}

} // namespace

AfficheurSocket::AfficheurSocket(quint16 port, QObject *parent, int clientsMax, qint64 attenteTotale)
    : QTcpServer(parent)
    , m_clientsMax(clientsPermis(clientsMax, limiteDescripteurs()))
    , m_budget(attenteTotale)
    , m_reprise(new QTimer(this))
    , m_restitution(new QTimer(this))
{
    if (m_clientsMax < clientsMax)
        Console::ecrire(QStringLiteral("Limite de descripteurs de fichiers (%1) : au plus %2 clients d'affichage au lieu de %3.")
                            .arg(limiteDescripteurs())
                            .arg(m_clientsMax)
                            .arg(clientsMax));

    // AnyIPv4: display clients connect over IPv4 and are named by their
    // dotted-decimal address.
    if (!listen(QHostAddress::AnyIPv4, port)) {
        Console::ecrire(QStringLiteral("Impossible d'écouter sur le port TCP %1 : %2").arg(port).arg(errorString()));
    } else {
        // Qt's backlog of 50 makes the kernel drop a burst of connections
        // while their clients believe they are connected. Listening again
        // only changes the backlog; the system caps it at its own maximum.
        ::listen(int(socketDescriptor()), INT_MAX);
    }

    m_reprise->setSingleShot(true);
    m_reprise->setInterval(DelaiRepriseMs);
    connect(m_reprise, &QTimer::timeout, this, &QTcpServer::resumeAccepting);
    connect(this, &QTcpServer::acceptError, this, &AfficheurSocket::erreurAcceptation);

    m_restitution->setSingleShot(true);
    m_restitution->setInterval(DelaiRestitutionMs);
    connect(m_restitution, &QTimer::timeout, this, [] {
#ifdef __GLIBC__
        // glibc keeps the heap the connections freed; a collector that once
        // served many clients would otherwise stay at its peak.
        ::malloc_trim(0);
#endif
    });
}

AfficheurSocket::~AfficheurSocket()
{
    // The connection threads are children: they must have ended before the
    // base destructor deletes them.
    fermerConnexions();
}

int AfficheurSocket::clientsPermis(int demandes, qint64 limiteDescripteurs)
{
    const qint64 place = (limiteDescripteurs - descripteursReserves) / descripteursParClient;
    return int(qBound(qint64(0), place, qint64(qMax(0, demandes))));
}

void AfficheurSocket::receptionDonnees(QString donnees)
{
    emit nouvellesDonnees(donnees);
    // Encoded here once, its bytes shared by every connection, rather than
    // once in each connection's thread; not at all when nobody is connected.
    if (isSignalConnected(QMetaMethod::fromSignal(&AfficheurSocket::nouvelleTrame)))
        emit nouvelleTrame(TrameAffichage::ecrire(donnees));
}

void AfficheurSocket::incomingConnection(qintptr socketDescriptor)
{
    if (!m_filtre.accepter(socketDescriptor)) {
        ::close(int(socketDescriptor));
        return;
    }
    if (m_budget.clients.load() >= m_clientsMax) {
        // Closed at once, so that the client knows; a connection left waiting
        // would hold a descriptor and let the client believe it is served.
        ::close(int(socketDescriptor));
        if (!m_refus) {
            m_refus = true;
            Console::ecrire(QStringLiteral("Limite de %1 clients d'affichage atteinte : nouvelles connexions refusées.")
                                .arg(m_clientsMax));
        }
        ++m_refuses;
        return;
    }

    Console::ecrire("Nouvelle connexion : ", socketDescriptor);

    // Owned by the server so that the stop can find it; deleted as soon as it
    // has finished, so that clients coming and going leave nothing behind.
    auto *thread = new QThread(this);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
    // Started before the client is taken over: a thread the system refuses
    // (thread or memory limits) must not leave an accepted client unserved.
    if (!thread->isRunning()) {
        ::close(int(socketDescriptor));
        Console::ecrire("Connexion fermée, son thread n'a pas pu démarrer : ", socketDescriptor);
        delete thread;
        return;
    }
    ++m_budget.clients;
    connect(thread, &QThread::finished, this, &AfficheurSocket::clientParti);

    // Everything is connected before the object moves: from then on its
    // thread may delete it at any moment (a client already gone).
    auto *connexion = new AfficheurSocketThread(socketDescriptor, nullptr, &m_budget);
    connect(this, &AfficheurSocket::nouvelleTrame, connexion, &AfficheurSocketThread::envoyerTrame);
    connect(this, &AfficheurSocket::fermetureDemandee, connexion, &AfficheurSocketThread::fermer);
    // Direct: while the application stops, the main thread is blocked waiting
    // for this thread and would never run a queued quit().
    connect(connexion, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    connexion->moveToThread(thread);
}

void AfficheurSocket::clientParti()
{
    --m_budget.clients;
    m_restitution->start();
    if (m_refus && m_budget.clients.load() < m_clientsMax) {
        m_refus = false;
        Console::ecrire(QStringLiteral("Clients d'affichage de nouveau acceptés (%1 connexion(s) refusée(s) entre-temps).")
                            .arg(m_refuses));
        m_refuses = 0;
    }
}

void AfficheurSocket::erreurAcceptation(QAbstractSocket::SocketError)
{
    // Qt stops accepting after such an error; the collector must not stay
    // deaf to display clients for the rest of its run.
    Console::ecrire(QStringLiteral("Connexion d'affichage impossible à accepter : %1. Nouvel essai dans %2 s.")
                        .arg(errorString())
                        .arg(DelaiRepriseMs / 1000));
    m_reprise->start();
}

void AfficheurSocket::fermerConnexions()
{
    m_reprise->stop();
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
