// SPDX-License-Identifier: MIT
#include "EmetteurRapports.h"

#include "DatagrammeRapport.h"
#include "JournalEtats.h"
#include "SignatureRapport.h"

#include <QHostInfo>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString texteErreur(int numero)
{
    return QString::fromLocal8Bit(std::strerror(numero));
}

} // namespace

EmetteurRapports::EmetteurRapports(const QVector<AdresseCollecteur> &collecteurs, JournalEtats &journal,
                                   const SignataireRapports &signataire, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
    , m_signataire(signataire)
{
    for (const AdresseCollecteur &adresse : collecteurs) {
        auto cible = std::make_unique<Cible>();
        cible->adresse = adresse;
        cible->texte = (adresse.hote.contains(QLatin1Char(':')) ? QLatin1Char('[') + adresse.hote + QLatin1Char(']')
                                                               : adresse.hote)
                       + QLatin1Char(':') + QString::number(adresse.port);
        QHostAddress ip;
        if (ip.setAddress(adresse.hote))
            ouvrir(*cible, ip);
        else
            rechercher(*cible);
        m_cibles.push_back(std::move(cible));
    }
}

EmetteurRapports::~EmetteurRapports()
{
    for (auto &cible : m_cibles) {
        if (cible->descripteur >= 0)
            ::close(cible->descripteur);
    }
}

void EmetteurRapports::ouvrir(Cible &cible, const QHostAddress &adresse)
{
    sockaddr_storage destination = {};
    socklen_t taille = 0;
    if (adresse.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&destination);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(cible.adresse.port);
        v4->sin_addr.s_addr = htonl(adresse.toIPv4Address());
        taille = sizeof(sockaddr_in);
    } else {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&destination);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(cible.adresse.port);
        const Q_IPV6ADDR octets = adresse.toIPv6Address();
        std::memcpy(&v6->sin6_addr, octets.c, sizeof octets.c);
        v6->sin6_scope_id = adresse.scopeId().toUInt();
        taille = sizeof(sockaddr_in6);
    }
    const int descripteur = ::socket(destination.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descripteur < 0 || ::connect(descripteur, reinterpret_cast<sockaddr *>(&destination), taille) != 0) {
        m_journal.panne(QStringLiteral("collecteur ") + cible.texte,
                        QStringLiteral("Envoi au collecteur %1 impossible : %2").arg(cible.texte, texteErreur(errno)));
        if (descripteur >= 0)
            ::close(descripteur);
        return;
    }
    cible.descripteur = descripteur;
}

void EmetteurRapports::rechercher(Cible &cible)
{
    if (cible.enRecherche)
        return;
    cible.enRecherche = true;
    Cible *pointeur = &cible;
    QHostInfo::lookupHost(cible.adresse.hote, this, [this, pointeur](const QHostInfo &info) {
        pointeur->enRecherche = false;
        const QString partie = QStringLiteral("nom ") + pointeur->texte;
        QHostAddress trouvee;
        for (const QHostAddress &adresse : info.addresses()) {
            if (trouvee.isNull() || (trouvee.protocol() != QAbstractSocket::IPv4Protocol
                                     && adresse.protocol() == QAbstractSocket::IPv4Protocol))
                trouvee = adresse;
        }
        if (trouvee.isNull()) {
            m_journal.panne(partie, QStringLiteral("Collecteur %1 introuvable : %2 ; nouvelle recherche à chaque rapport.")
                                        .arg(pointeur->texte, info.errorString()));
            return;
        }
        ouvrir(*pointeur, trouvee);
        m_journal.retour(partie, QStringLiteral("Collecteur %1 trouvé : %2.").arg(pointeur->texte, trouvee.toString()));
    });
}

QString EmetteurRapports::envoyerA(Cible &cible, const QByteArray &datagramme)
{
    const auto envoyer = [&cible, &datagramme] {
        return ::send(cible.descripteur, datagramme.constData(), size_t(datagramme.size()), MSG_DONTWAIT)
               == ssize_t(datagramme.size());
    };
    if (envoyer())
        return QString();
    const int erreur = errno;
    // A refusal belongs to the datagram before, and is cleared by being
    // reported: this one still gets its chance.
    if (erreur == ECONNREFUSED && envoyer())
        return texteErreur(erreur);
    return texteErreur(errno);
}

void EmetteurRapports::envoyer(const QVector<QByteArray> &rapports)
{
    QVector<QString> erreurs(int(m_cibles.size()));
    for (const QByteArray &rapport : rapports) {
        DatagrammeRapport::commencer(m_tampon, m_sequenceur.suivant());
        m_tampon.append(rapport);
        if (m_signataire.actif())
            m_signataire.signer(m_tampon, SignatureRapport::maintenant());
        for (size_t i = 0; i < m_cibles.size(); ++i) {
            Cible &cible = *m_cibles[i];
            if (cible.descripteur < 0) {
                rechercher(cible);
                continue;
            }
            const QString erreur = envoyerA(cible, m_tampon);
            if (!erreur.isEmpty())
                erreurs[int(i)] = erreur;
        }
    }
    for (size_t i = 0; i < m_cibles.size(); ++i) {
        const Cible &cible = *m_cibles[i];
        if (cible.descripteur < 0)
            continue;
        const QString partie = QStringLiteral("collecteur ") + cible.texte;
        if (erreurs.at(int(i)).isEmpty())
            m_journal.retour(partie, QStringLiteral("Envoi au collecteur %1 rétabli.").arg(cible.texte));
        else
            m_journal.panne(partie, QStringLiteral("Envoi au collecteur %1 impossible : %2").arg(cible.texte, erreurs.at(int(i))));
    }
}
