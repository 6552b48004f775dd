// SPDX-License-Identifier: MIT
#include "FiltreAfficheurs.h"

#include "Console.h"

#include <sys/socket.h>

bool FiltreAfficheurs::permis(const QHostAddress &adresse) const
{
    // A client on a dual-stack socket shows as ::ffff:a.b.c.d.
    bool v4 = false;
    const quint32 ipv4 = adresse.toIPv4Address(&v4);
    const QHostAddress vue = v4 ? QHostAddress(ipv4) : adresse;
    for (const auto &reseau : m_reseaux) {
        if (vue.isInSubnet(reseau))
            return true;
    }
    return false;
}

bool FiltreAfficheurs::accepter(qintptr descripteur)
{
    if (m_reseaux.isEmpty())
        return true;
    sockaddr_storage pair = {};
    socklen_t taille = sizeof(pair);
    QHostAddress adresse;
    if (::getpeername(int(descripteur), reinterpret_cast<sockaddr *>(&pair), &taille) == 0)
        adresse = QHostAddress(reinterpret_cast<const sockaddr *>(&pair));
    if (!adresse.isNull() && permis(adresse))
        return true;
    ++m_refuses;
    ++m_nonDits;
    if (!m_derniereLigne.isValid() || m_derniereLigne.elapsed() >= periodeLignes) {
        Console::ecrire(QStringLiteral("Client d'affichage refusé : %1 hors des réseaux permis (--afficheurs) ; %2 "
                                       "refusé(s) depuis la dernière ligne, %3 en tout.")
                            .arg(adresse.toString())
                            .arg(m_nonDits)
                            .arg(m_refuses));
        m_nonDits = 0;
        m_derniereLigne.start();
    }
    return false;
}
