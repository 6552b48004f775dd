// SPDX-License-Identifier: MIT
#ifndef AFFICHEURSOCKET_H
#define AFFICHEURSOCKET_H

#include "AfficheurSocketThread.h"
#include "FiltreAfficheurs.h"

#include <QByteArray>
#include <QString>
#include <QTcpServer>

class QTimer;

// The display clients' TCP endpoint: each accepted client gets a connection
// object in a thread of its own, and every report given to receptionDonnees
// goes out to every connected client.
class AfficheurSocket : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr int clientsMaxParDefaut = 256;
    // Bytes waiting for all clients together; past it the clients furthest
    // behind are cut off first.
    static constexpr qint64 attenteTotaleMax = 256 * 1024 * 1024;
    // Descriptors kept out of the clients' reach, for the UDP socket, the
    // backup files, the console and the libraries.
    static constexpr int descripteursReserves = 64;
    // A client costs its socket and its thread's event loop wake-up, plus one
    // for safety.
    static constexpr int descripteursParClient = 3;

    explicit AfficheurSocket(quint16 port, QObject *parent = nullptr, int clientsMax = clientsMaxParDefaut,
                             qint64 attenteTotale = attenteTotaleMax);
    ~AfficheurSocket() override;

    // How many clients may be connected at once: the number asked for, or
    // fewer when the descriptor limit could not serve them all.
    int clientsMax() const { return m_clientsMax; }
    int clients() const { return m_budget.clients.load(); }

    // Only clients from these networks are served; the others are closed at once.
    void restreindre(const QList<QPair<QHostAddress, int>> &reseaux) { m_filtre.restreindre(reseaux); }
    const FiltreAfficheurs &filtre() const { return m_filtre; }

    // The most clients `limiteDescripteurs` open files leave room for.
    static int clientsPermis(int demandes, qint64 limiteDescripteurs);

signals:
    void nouvellesDonnees(QString donnees);
    // The report's display frame, encoded once for every connection.
    void nouvelleTrame(QByteArray trame);
    void fermetureDemandee(QPrivateSignal);

public slots:
    void receptionDonnees(QString donnees);
    // Stops accepting clients, closes every open connection and waits, for a
    // bounded time, for the connection threads to end.
    void fermerConnexions();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void clientParti();
    void erreurAcceptation(QAbstractSocket::SocketError erreur);

    FiltreAfficheurs m_filtre;
    int m_clientsMax;
    bool m_refus = false;
    int m_refuses = 0;
    AfficheurSocketThread::Budget m_budget;
    QTimer *m_reprise;
    QTimer *m_restitution;
};

#endif
