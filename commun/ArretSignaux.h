// SPDX-License-Identifier: MIT
#ifndef ARRETSIGNAUX_H
#define ARRETSIGNAUX_H

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into the Qt signal arretDemande(), delivered by
// the event loop of the thread that built the object. The handler only
// writes to a socket pair, which is all that is safe inside a signal handler;
// a signal received before the event loop runs waits in the socket pair.
class ArretSignaux : public QObject
{
    Q_OBJECT

public:
    explicit ArretSignaux(QObject *parent = nullptr);
    ~ArretSignaux() override;

    bool estActif() const { return m_notificateur != nullptr; }

signals:
    // Emitted once, for the first signal; later ones change nothing.
    void arretDemande(int signal);

private slots:
    void lireSignal();

private:
    static void gestionnaire(int signal);

    QSocketNotifier *m_notificateur = nullptr;
    bool m_dejaDemande = false;
};

#endif
