// SPDX-License-Identifier: MIT
#ifndef RECEPTEURHTTP_H
#define RECEPTEURHTTP_H

#include <QByteArrayList>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

// A receiver of webhooks on the loopback: it keeps every POST body it is
// sent and answers with the status it is told, so that a test can take it
// down and up again.
class RecepteurHttp : public QObject
{
public:
    bool ecouter(quint16 port = 0)
    {
        connect(&m_serveur, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *client = m_serveur.nextPendingConnection()) {
                connect(client, &QTcpSocket::readyRead, this, [this, client]() { lire(client); });
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
        return m_serveur.listen(QHostAddress::LocalHost, port);
    }
    quint16 port() const { return m_serveur.serverPort(); }
    QString url(const QString &chemin = QStringLiteral("/recevoir")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(chemin);
    }
    // Answered to the next requests; 200 by default.
    void repondre(int statut) { m_statut = statut; }

    QByteArrayList corps;
    QStringList chemins;
    int refusees = 0;

    QJsonObject json(int i) const { return QJsonDocument::fromJson(corps.value(i)).object(); }

private:
    void lire(QTcpSocket *client)
    {
        QByteArray &tampon = m_tampons[client];
        tampon += client->readAll();
        const int finEntetes = tampon.indexOf("\r\n\r\n");
        if (finEntetes < 0)
            return;
        int longueur = 0;
        for (const QByteArray &ligne : tampon.left(finEntetes).split('\n')) {
            if (ligne.toLower().startsWith("content-length:"))
                longueur = ligne.mid(15).trimmed().toInt();
        }
        if (tampon.size() < finEntetes + 4 + longueur)
            return;
        const QByteArray requete = tampon.left(tampon.indexOf("\r\n"));
        const QByteArray recu = tampon.mid(finEntetes + 4, longueur);
        m_tampons.remove(client);
        if (m_statut == 200) {
            chemins.append(QString::fromUtf8(requete.split(' ').value(1)));
            corps.append(recu);
        } else {
            ++refusees;
        }
        if (client->state() != QAbstractSocket::ConnectedState)
            return;
        client->write("HTTP/1.1 " + QByteArray::number(m_statut) + " Statut\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        client->disconnectFromHost();
    }

    QTcpServer m_serveur;
    QHash<QTcpSocket *, QByteArray> m_tampons;
    int m_statut = 200;
};

#endif
