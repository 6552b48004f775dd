// SPDX-License-Identifier: MIT
#include "ClientCollecteur.h"

#include "Console.h"

ClientCollecteur::ClientCollecteur(const QString &hote, quint16 port, QObject *parent)
    : QObject(parent)
    , m_hote(hote)
    , m_port(port)
{
    m_minuteur.setSingleShot(true);
    connect(&m_minuteur, &QTimer::timeout, this, &ClientCollecteur::essayer);
    connect(&m_socket, &QTcpSocket::connected, this, &ClientCollecteur::connecte);
    connect(&m_socket, &QTcpSocket::readyRead, this, &ClientCollecteur::lire);
    connect(&m_socket, &QTcpSocket::disconnected, this, &ClientCollecteur::perdue);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ClientCollecteur::perdue);
}

ClientCollecteur::~ClientCollecteur()
{
    // The socket's own destruction would report a loss to a half-destroyed object.
    m_socket.disconnect(this);
    m_socket.abort();
}

QString ClientCollecteur::adresse() const
{
    return m_hote.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(m_hote).arg(m_port)
                                             : QStringLiteral("%1:%2").arg(m_hote).arg(m_port);
}

void ClientCollecteur::demarrer()
{
    essayer();
}

void ClientCollecteur::essayer()
{
    m_lecteur = LecteurTrames();
    m_socket.abort();
    m_socket.connectToHost(m_hote, m_port);
}

void ClientCollecteur::connecte()
{
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_connecte = true;
    m_echecSignale = false;
    m_delai = delaiInitial;
    if (m_dejaConnecte)
        ++m_reconnexions;
    m_dejaConnecte = true;
    Console::erreur(QStringLiteral("Connecté au collecteur %1.").arg(adresse()));
    emit connexionChangee(true);
}

void ClientCollecteur::lire()
{
    m_lecteur.ajouter(m_socket.readAll());
    QString texte;
    for (;;) {
        const LecteurTrames::Resultat resultat = m_lecteur.lire(texte);
        if (resultat == LecteurTrames::Incomplet)
            return;
        if (resultat == LecteurTrames::Erreur) {
            attendre(m_lecteur.erreur());
            return;
        }
        ++m_trames;
        emit rapportRecu(texte);
        // A slot may have stopped the link.
        if (!m_connecte)
            return;
    }
}

void ClientCollecteur::perdue()
{
    if (m_minuteur.isActive())
        return;
    if (m_connecte)
        lire();
    if (m_minuteur.isActive())
        return;
    attendre(m_socket.errorString());
}

void ClientCollecteur::attendre(const QString &texteRaison)
{
    QString raison = texteRaison;
    if (raison.endsWith(QLatin1Char('.')))
        raison.chop(1);
    const int delai = m_delai;
    m_delai = qMin(m_delai * 2, delaiMaximum);
    if (m_connecte) {
        m_connecte = false;
        Console::erreur(QStringLiteral("Connexion au collecteur %1 perdue : %2. Nouvel essai dans %3 s.")
                             .arg(adresse(), raison)
                             .arg(delai / 1000));
        emit connexionChangee(false);
    } else if (!m_echecSignale) {
        m_echecSignale = true;
        Console::erreur(QStringLiteral("Collecteur %1 injoignable : %2. Nouvel essai dans %3 s, puis jusqu'à toutes les %4 s.")
                             .arg(adresse(), raison)
                             .arg(delai / 1000)
                             .arg(delaiMaximum / 1000));
    }
    m_minuteur.start(delai);
    // Aborted once the line is written: abort() would change errorString().
    QMetaObject::invokeMethod(&m_socket, &QTcpSocket::abort, Qt::QueuedConnection);
}
