#ifndef HYPERVISEURUDPSOCKET_H
#define HYPERVISEURUDPSOCKET_H

#include <QHash>
#include <QString>
#include <QUdpSocket>

// Receives the agents' report datagrams (4-byte big-endian sequence number,
// then the report text), reports sequence gaps per sender address and hands
// every report text on through nouvellesDonnes.
class HyperviseurUDPSocket : public QUdpSocket
{
    Q_OBJECT

public:
    explicit HyperviseurUDPSocket(quint16 port, QObject *parent = nullptr);
    ~HyperviseurUDPSocket() override;

signals:
    void nouvellesDonnes(QString donnees);
    void paquetsPerdus(int nb);

private slots:
    void lireDatagrammes();

private:
    QHash<QString, quint32> m_sequences;
};

#endif
