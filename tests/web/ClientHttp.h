// SPDX-License-Identifier: MIT
#ifndef CLIENTHTTP_H
#define CLIENTHTTP_H

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

// A plain HTTP/1.1 exchange over a socket, the event loop kept running
// meanwhile, so that a server in the test's own thread can answer.
struct ReponseBrute
{
    int statut = 0;
    QByteArray entetes;
    QByteArray corps;
    QByteArray brut;

    QByteArray entete(const QByteArray &nom) const
    {
        for (const QByteArray &ligne : entetes.split('\n')) {
            if (ligne.toLower().startsWith(nom.toLower() + ':'))
                return ligne.mid(nom.size() + 1).trimmed();
        }
        return QByteArray();
    }
};

// Reads until the server closes the connection or `delai` ms pass.
inline ReponseBrute lireReponse(QAbstractSocket &socket, int delai)
{
    ReponseBrute reponse;
    QDeadlineTimer limite(delai);
    while (!limite.hasExpired()) {
        QTest::qWait(5);
        reponse.brut += socket.readAll();
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    reponse.brut += socket.readAll();
    const int fin = reponse.brut.indexOf("\r\n\r\n");
    reponse.entetes = reponse.brut.left(fin).replace("\r", "");
    reponse.corps = fin >= 0 ? reponse.brut.mid(fin + 4) : QByteArray();
    reponse.statut = reponse.brut.startsWith("HTTP/") ? reponse.brut.mid(9, 3).toInt() : 0;
    return reponse;
}

inline ReponseBrute echanger(quint16 port, const QByteArray &requete, int delai = 10000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(requete);
    return lireReponse(socket, delai);
}

inline ReponseBrute obtenir(quint16 port, const QByteArray &chemin, const QByteArray &methode = "GET")
{
    return echanger(port, methode + ' ' + chemin + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
}

#endif
