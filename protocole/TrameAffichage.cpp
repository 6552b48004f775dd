// SPDX-License-Identifier: MIT
#include "TrameAffichage.h"

#include <QtEndian>

QByteArray TrameAffichage::ecrire(const QString &texte)
{
    const QByteArray octets = texte.toLatin1();
    // Header and text in one buffer: a socket's buffer takes one append per
    // report, the bytes on the wire are the same.
    QByteArray trame;
    trame.reserve(tailleEntete + octets.size());
    char entete[tailleEntete];
    qToBigEndian<qint32>(qint32(octets.size()), entete);
    entete[4] = marqueur;
    return trame.append(entete, tailleEntete).append(octets);
}
