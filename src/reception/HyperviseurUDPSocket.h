// SPDX-License-Identifier: MIT
#ifndef HYPERVISEURUDPSOCKET_H
#define HYPERVISEURUDPSOCKET_H

#include "DecodeurDatagrammes.h"
#include "VerificateurSignatures.h"

#include <QString>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

// Receives the agents' report datagrams (4-byte big-endian sequence number,
// then the report text), reports sequence gaps per sender address and hands
// every report text on through nouvellesDonnes.
class HyperviseurUDPSocket : public QUdpSocket
{
    Q_OBJECT

public:
    static constexpr int tailleTamponSouhaitee = 8 * 1024 * 1024;
    static constexpr int tailleMaxDatagramme = 65536;

    explicit HyperviseurUDPSocket(quint16 port, QObject *parent = nullptr);
    ~HyperviseurUDPSocket() override;

    // Asks the system for a receive buffer of this many bytes, so that bursts
    // wait in the kernel instead of being dropped; prints a line when less is
    // granted. Returns the size granted.
    int reglerTamponReception(int octets);
    // From then on only reports signed by a key of the host they name are
    // passed on; the others are counted and told, once a minute at most.
    void exigerSignatures(const FichierCles::Cles &cles, qint64 deriveMaxMs);
    const VerificateurSignatures *verificateur() const { return m_verificateur.get(); }

signals:
    void nouvellesDonnes(QString donnees);
    void paquetsPerdus(int nb);
    // After every datagram waiting in the socket has been read and passed on.
    void datagrammesLus();

public slots:
    // Reads every datagram waiting in the socket.
    void lireDatagrammes();

private:
    quint32 pertesSysteme() const;

    void traiter(const QHostAddress &source, const QByteArray &octets);
    void lireParLots();

    DecodeurDatagrammes m_decodeur;
    // Room for a batch of datagrams read by one system call.
    QByteArray m_lot;
    quint32 m_pertesSysteme = 0;
    std::unique_ptr<VerificateurSignatures> m_verificateur;
    // A child, so that it moves to the receiving thread with the socket.
    QTimer *m_lignesRefus;
};

#endif
