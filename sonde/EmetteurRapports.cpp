#include "EmetteurRapports.h"

#include "DatagrammeRapport.h"
#include "JournalEtats.h"

#include <QHostInfo>
#include <QUdpSocket>

EmetteurRapports::EmetteurRapports(const QVector<AdresseCollecteur> &collecteurs, JournalEtats &journal, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
{
    for (const AdresseCollecteur &adresse : collecteurs) {
        auto cible = std::make_unique<Cible>();
        cible->adresse = adresse;
        cible->texte = (adresse.hote.contains(QLatin1Char(':')) ? QLatin1Char('[') + adresse.hote + QLatin1Char(']')
                                                               : adresse.hote)
                       + QLatin1Char(':') + QString::number(adresse.port);
        cible->socket = std::make_unique<QUdpSocket>();
        Cible *pointeur = cible.get();
        // Linux reports a refusal on the socket after the datagram that
        // caused it; Qt sees it either on the next send or when it reads.
        connect(cible->socket.get(), &QAbstractSocket::errorOccurred, this, [pointeur](QAbstractSocket::SocketError erreur) {
            if (erreur == QAbstractSocket::ConnectionRefusedError)
                pointeur->refus = true;
        });
        if (!cible->ip.setAddress(adresse.hote))
            rechercher(*cible);
        m_cibles.push_back(std::move(cible));
    }
}

EmetteurRapports::~EmetteurRapports() = default;

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
        pointeur->ip = trouvee;
        m_journal.retour(partie, QStringLiteral("Collecteur %1 trouvé : %2.").arg(pointeur->texte, trouvee.toString()));
    });
}

QString EmetteurRapports::envoyerA(Cible &cible, const QByteArray &datagramme)
{
    QUdpSocket &socket = *cible.socket;
    if (socket.writeDatagram(datagramme, cible.ip, cible.adresse.port) == datagramme.size())
        return QString();
    if (socket.error() == QAbstractSocket::ConnectionRefusedError) {
        // That error belonged to an earlier datagram and was cleared by
        // being reported: this one still deserves its chance.
        cible.refus = true;
        if (socket.writeDatagram(datagramme, cible.ip, cible.adresse.port) == datagramme.size())
            return QString();
    }
    return socket.errorString();
}

void EmetteurRapports::envoyer(const QVector<QByteArray> &rapports)
{
    QVector<QString> erreurs(int(m_cibles.size()));
    for (const QByteArray &rapport : rapports) {
        DatagrammeRapport::commencer(m_tampon, m_sequenceur.suivant());
        m_tampon.append(rapport);
        for (size_t i = 0; i < m_cibles.size(); ++i) {
            Cible &cible = *m_cibles[i];
            if (cible.ip.isNull()) {
                rechercher(cible);
                continue;
            }
            const QString erreur = envoyerA(cible, m_tampon);
            if (!erreur.isEmpty())
                erreurs[int(i)] = erreur;
        }
    }
    for (size_t i = 0; i < m_cibles.size(); ++i) {
        Cible &cible = *m_cibles[i];
        if (cible.ip.isNull())
            continue;
        QString erreur = erreurs.at(int(i));
        if (erreur.isEmpty() && cible.refus)
            erreur = cible.socket->errorString();
        cible.refus = false;
        const QString partie = QStringLiteral("collecteur ") + cible.texte;
        if (erreur.isEmpty())
            m_journal.retour(partie, QStringLiteral("Envoi au collecteur %1 rétabli.").arg(cible.texte));
        else
            m_journal.panne(partie, QStringLiteral("Envoi au collecteur %1 impossible : %2").arg(cible.texte, erreur));
    }
}
