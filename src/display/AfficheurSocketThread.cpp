// SPDX-License-Identifier: MIT
#include "AfficheurSocketThread.h"

#include "Console.h"
#include "TrameAffichage.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QThread>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// A vanished client is dropped after a few minutes instead of the system's
// two hours, and written data may not stay unacknowledged longer than that.
constexpr int KeepAliveInactiviteS = 120;
constexpr int KeepAliveIntervalleS = 30;
constexpr int KeepAliveSondes = 4;
constexpr unsigned int DelaiAcquittementMs = 240000;

// How long a closing connection may go on sending what its client has not
// taken yet: a client that does not read must not hold up the stop.
constexpr int DelaiVidageMs = 1000;

void reglerDetectionPairDisparu(qintptr descripteur)
{
#ifdef Q_OS_UNIX
    const int fd = int(descripteur);
#ifdef TCP_KEEPIDLE
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepAliveInactiviteS, sizeof KeepAliveInactiviteS);
#endif
#ifdef TCP_KEEPINTVL
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepAliveIntervalleS, sizeof KeepAliveIntervalleS);
#endif
#ifdef TCP_KEEPCNT
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepAliveSondes, sizeof KeepAliveSondes);
#endif
#ifdef TCP_USER_TIMEOUT
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &DelaiAcquittementMs, sizeof DelaiAcquittementMs);
#endif
#else
    Q_UNUSED(descripteur)
#endif
}

} // namespace

AfficheurSocketThread::AfficheurSocketThread(qintptr socketDescriptor, QObject *parent, Budget *budget)
    : QTcpSocket(parent)
    , m_budget(budget)
{
    if (setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        connect(this, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
        // Unread input would pile up in the socket's buffer for the whole
        // life of the connection.
        connect(this, &QIODevice::readyRead, this, [this] { skip(bytesAvailable()); });
        setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        // A frame goes out as soon as it is written: with Nagle's algorithm
        // it would wait for the client's delayed acknowledgement of the one
        // before, up to 40 ms on Linux, whenever reports come faster than that.
        setSocketOption(QAbstractSocket::LowDelayOption, 1);
        reglerDetectionPairDisparu(socketDescriptor);
        connect(this, &QIODevice::bytesWritten, this, &AfficheurSocketThread::ecrits);
        m_adresse = peerAddress().toString();
        return;
    }
    emit errorOccurred(error());
    deleteLater();
}

AfficheurSocketThread::~AfficheurSocketThread()
{
    if (m_budget)
        m_budget->octets -= m_enAttente;
}

void AfficheurSocketThread::ecrits(qint64 octets)
{
    const qint64 partis = qMin(octets, m_enAttente);
    m_enAttente -= partis;
    if (m_budget)
        m_budget->octets -= partis;
}

// Past its own bound, or, once all clients together hold too much, past its
// share of the whole: the clients furthest behind go first, and one that
// keeps up is never cut for the others.
bool AfficheurSocketThread::tropEnRetard(qint64 avant, qint64 trame) const
{
    if (avant + trame > TailleMaxEnAttente)
        return true;
    if (!m_budget || m_budget->octets.load() + trame <= m_budget->maximum)
        return false;
    return avant > m_budget->maximum / qMax(1, m_budget->clients.load());
}

void AfficheurSocketThread::receptionDonnees(QString donnees)
{
    envoyerTrame(TrameAffichage::ecrire(donnees));
}

void AfficheurSocketThread::envoyerTrame(QByteArray trame)
{
    const QString adresse = state() == QAbstractSocket::ConnectedState ? m_adresse : peerAddress().toString();
    Console::ecrire("Thread: ", static_cast<void *>(QThread::currentThreadId()), ". Transmission des données à ",
                    adresse);

    if (state() != QAbstractSocket::ConnectedState)
        return;

    if (tropEnRetard(bytesToWrite(), trame.size())) {
        Console::ecrire("Client trop lent, connexion fermée : ",
                        adresse + QLatin1Char(':') + QString::number(peerPort()));
        abort();
        return;
    }
    const qint64 ajoutes = write(trame);
    if (ajoutes > 0) {
        m_enAttente += ajoutes;
        if (m_budget)
            m_budget->octets += ajoutes;
    }
}

void AfficheurSocketThread::fermer()
{
    const QDeadlineTimer delai(DelaiVidageMs);
    while (state() == QAbstractSocket::ConnectedState && bytesToWrite() > 0 && !delai.hasExpired()
           && waitForBytesWritten(int(qMax<qint64>(1, delai.remainingTime())))) {
    }
    abort();
    deleteLater();
}
