// SPDX-License-Identifier: MIT
#include "DatagrammeRapport.h"

void DatagrammeRapport::commencer(QByteArray &tampon, quint32 sequence)
{
    tampon.resize(0);
    tampon.append(char(sequence >> 24)).append(char(sequence >> 16)).append(char(sequence >> 8)).append(char(sequence));
}

QByteArray DatagrammeRapport::ecrire(quint32 sequence, const QByteArray &rapport)
{
    QByteArray tampon;
    tampon.reserve(tailleEntete + rapport.size());
    commencer(tampon, sequence);
    return tampon.append(rapport);
}

quint32 DatagrammeRapport::sequence(const QByteArray &octets)
{
    quint32 valeur = 0;
    const int entete = qMin(tailleEntete, int(octets.size()));
    for (int i = 0; i < entete; ++i)
        valeur = (valeur << 8) | quint8(octets.at(i));
    return valeur;
}

QString DatagrammeRapport::texte(const QByteArray &octets)
{
    const int entete = qMin(tailleEntete, int(octets.size()));
    const char *debut = octets.constData() + entete;
    return QString::fromLatin1(debut, int(qstrnlen(debut, uint(octets.size() - entete))));
}
