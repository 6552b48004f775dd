// SPDX-License-Identifier: MIT
#ifndef ARRETSIGNAUX_H
#define ARRETSIGNAUX_H

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into the Qt signal arretDemande(), delivered by
// the event loop of the thread that built the object. The handler only
// writes to a socket pair, which is all that is safe inside a signal handler;
// a signal received before the event loop runs waits in the socket pair.
// SIGHUP, on demand, becomes rechargementDemande() instead of ending the program.
class ArretSignaux : public QObject
{
    Q_OBJECT

public:
    explicit ArretSignaux(QObject *parent = nullptr);
    ~ArretSignaux() override;

    bool estActif() const { return m_notificateur != nullptr; }
    // From now on SIGHUP asks for a reload; until then it ends the program.
    void intercepterRechargement();

signals:
    // Emitted once, for the first signal; later ones change nothing.
    void arretDemande(int signal);
    // Once for the SIGHUPs read together, each time.
    void rechargementDemande();

private slots:
    void lireSignal();

private:
    static void gestionnaire(int signal);

    QSocketNotifier *m_notificateur = nullptr;
    bool m_dejaDemande = false;
    bool m_rechargement = false;
};

#endif
