// SPDX-License-Identifier: MIT
#ifndef CLIENTHTTPS_H
#define CLIENTHTTPS_H

#include "ClientHttp.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

// An HTTP/1.1 exchange over TLS that trusts `autorite` alone, checked
// against the name "localhost"; `erreur` tells why nothing came back.
inline ReponseBrute echangerTls(quint16 port, const QSslCertificate &autorite, const QByteArray &requete,
                                QString *erreur = nullptr, int delai = 10000)
{
    QSslSocket socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates({autorite});
    socket.setSslConfiguration(configuration);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, QStringLiteral("localhost"));
    // Sent once the handshake is over.
    socket.write(requete);
    const ReponseBrute reponse = lireReponse(socket, delai);
    if (erreur)
        *erreur = socket.errorString();
    return reponse;
}

inline QByteArray requeteGet(const QByteArray &chemin, const QByteArray &nom = QByteArray(),
                             const QByteArray &motDePasse = QByteArray())
{
    QByteArray requete = "GET " + chemin + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
    if (!nom.isEmpty())
        requete += "Authorization: Basic " + (nom + ':' + motDePasse).toBase64() + "\r\n";
    return requete + "\r\n";
}

#endif
