// SPDX-License-Identifier: MIT
#include "ArretSignaux.h"

#include "Console.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_paire[2] = {-1, -1};
}

ArretSignaux::ArretSignaux(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_paire) != 0) {
        Console::ecrire(QStringLiteral("Impossible d'intercepter les signaux d'arrêt : %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    m_notificateur = new QSocketNotifier(s_paire[1], QSocketNotifier::Read, this);
    connect(m_notificateur, &QSocketNotifier::activated, this, &ArretSignaux::lireSignal);

    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = &ArretSignaux::gestionnaire;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

ArretSignaux::~ArretSignaux()
{
    if (!m_notificateur)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    if (m_rechargement)
        ::sigaction(SIGHUP, &action, nullptr);
    delete m_notificateur;
    ::close(s_paire[0]);
    ::close(s_paire[1]);
    s_paire[0] = s_paire[1] = -1;
}

void ArretSignaux::intercepterRechargement()
{
    if (!m_notificateur || m_rechargement)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = &ArretSignaux::gestionnaire;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
    m_rechargement = true;
}

void ArretSignaux::gestionnaire(int signal)
{
    const int erreurPrecedente = errno;
    const unsigned char octet = static_cast<unsigned char>(signal);
    // A full pair means a stop is already pending: dropping the byte is harmless.
    [[maybe_unused]] const ssize_t ecrits = ::write(s_paire[0], &octet, 1);
    errno = erreurPrecedente;
}

void ArretSignaux::lireSignal()
{
    unsigned char octets[64];
    ssize_t lus;
    int dernier = 0;
    bool recharger = false;
    while ((lus = ::read(s_paire[1], octets, sizeof(octets))) > 0) {
        for (ssize_t i = 0; i < lus; ++i) {
            if (octets[i] == SIGHUP)
                recharger = true;
            else
                dernier = octets[i];
        }
    }
    if (recharger && !m_dejaDemande)
        emit rechargementDemande();
    if (dernier == 0 || m_dejaDemande)
        return;
    m_dejaDemande = true;
    emit arretDemande(dernier);
}
