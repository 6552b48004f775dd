// SPDX-License-Identifier: MIT
#ifndef CLIENTAFFICHAGE_H
#define CLIENTAFFICHAGE_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>

// For the tests that run the real collector: an agent's datagram, a report,
// and a display client on the fixed display port.

inline QByteArray datagramme(quint32 sequence, const QByteArray &texte)
{
    QByteArray octets;
    octets.append(char(sequence >> 24)).append(char(sequence >> 16)).append(char(sequence >> 8)).append(char(sequence));
    return octets + texte;
}

// A display client on the collector's fixed display port, decoding frames.
class ClientAffichage
{
public:
    // From `source` when given (127.0.0.x: another machine, to the collector).
    bool connecter(const QHostAddress &source = QHostAddress())
    {
        if (!source.isNull() && !m_socket.bind(source, 0))
            return false;
        m_socket.connectToHost(QHostAddress::LocalHost, 56000);
        return m_socket.waitForConnected(10000);
    }
    QString erreur() const { return m_socket.errorString(); }

    // The report texts of the complete frames received so far.
    QStringList rapports()
    {
        m_recu += m_socket.readAll();
        while (m_recu.size() >= 5) {
            const quint32 longueur = (quint32(quint8(m_recu.at(0))) << 24) | (quint32(quint8(m_recu.at(1))) << 16)
                                     | (quint32(quint8(m_recu.at(2))) << 8) | quint32(quint8(m_recu.at(3)));
            if (m_recu.at(4) != 1) {
                m_rapports << QStringLiteral("<marqueur invalide>");
                m_recu.clear();
                break;
            }
            if (quint32(m_recu.size()) < 5 + longueur)
                break;
            m_rapports << QString::fromLatin1(m_recu.constData() + 5, int(longueur));
            m_recu.remove(0, int(5 + longueur));
        }
        return m_rapports;
    }
    bool attendreRapports(int nombre)
    {
        QDeadlineTimer limite(10000);
        while (rapports().size() < nombre && !limite.hasExpired())
            m_socket.waitForReadyRead(100);
        return rapports().size() >= nombre;
    }

    // Whether the collector closed the connection within `delai` ms.
    bool fermee(int delai = 10000)
    {
        return m_socket.state() == QAbstractSocket::UnconnectedState || m_socket.waitForDisconnected(delai);
    }

private:
    QTcpSocket m_socket;
    QByteArray m_recu;
    QStringList m_rapports;
};

inline QByteArray rapport(const QString &hyperviseur, int vms)
{
    QString texte = QStringLiteral(R"({"name":"%1","time":1700000000,"cpu":12.5,"vms":[)").arg(hyperviseur);
    for (int i = 0; i < vms; ++i)
        texte += QStringLiteral(R"(%1{"name":"%2-vm%3","ram":1024})").arg(i ? QStringLiteral(",") : QString(), hyperviseur).arg(i);
    return (texte + QStringLiteral("]}")).toLatin1();
}

#endif
