#ifndef AFFICHEURSOCKET_H
#define AFFICHEURSOCKET_H

#include <QString>
#include <QTcpServer>

// The display clients' TCP endpoint: each accepted client gets a connection
// object in a thread of its own, and every report given to receptionDonnees
// goes out to every connected client.
class AfficheurSocket : public QTcpServer
{
    Q_OBJECT

public:
    explicit AfficheurSocket(quint16 port, QObject *parent = nullptr);
    ~AfficheurSocket() override;

signals:
    void nouvellesDonnees(QString donnees);
    void fermetureDemandee(QPrivateSignal);

public slots:
    void receptionDonnees(QString donnees);
    // Stops accepting clients, closes every open connection and waits, for a
    // bounded time, for the connection threads to end.
    void fermerConnexions();

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

#endif
