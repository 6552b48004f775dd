// SPDX-License-Identifier: MIT
#include "Afficheur.h"

#include "Console.h"
#include "ResumeRapport.h"

Afficheur::Afficheur(const ParametresAfficheur &parametres, QObject *parent)
    : QObject(parent)
    , m_parametres(parametres)
{
    connect(&m_socket, &QTcpSocket::connected, this, &Afficheur::connecte);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Afficheur::lire);
    connect(&m_socket, &QTcpSocket::disconnected, this, &Afficheur::deconnecte);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &Afficheur::erreurSocket);
}

void Afficheur::demarrer()
{
    m_socket.connectToHost(m_parametres.hote, m_parametres.port);
}

void Afficheur::connecte()
{
    m_connecte = true;
    m_chrono.start();
    Console::erreur(QStringLiteral("Connecté à %1:%2.").arg(m_parametres.hote).arg(m_parametres.port));
}

void Afficheur::lire()
{
    if (m_fini)
        return;
    m_lecteur.ajouter(m_socket.readAll());
    QString texte;
    for (;;) {
        const LecteurTrames::Resultat resultat = m_lecteur.lire(texte);
        if (resultat == LecteurTrames::Incomplet)
            break;
        if (resultat == LecteurTrames::Erreur) {
            Console::vider();
            terminer(TrameInvalide, QStringLiteral("%1 Arrêt après %2 trame(s) valide(s).").arg(m_lecteur.erreur()).arg(m_recues));
            return;
        }
        ++m_recues;
        if (!m_parametres.silencieux)
            Console::sortie(m_parametres.brut ? texte : ResumeRapport::ligne(texte));
        if (m_parametres.nombre > 0 && m_recues >= m_parametres.nombre) {
            terminer(Succes);
            return;
        }
    }
    Console::vider();
}

void Afficheur::deconnecte()
{
    if (m_fini)
        return;
    lire();
    if (m_fini)
        return;
    QString message = QStringLiteral("Connexion perdue avec %1:%2 après %3 trame(s)")
                          .arg(m_parametres.hote)
                          .arg(m_parametres.port)
                          .arg(m_recues);
    if (m_lecteur.octetsEnAttente() > 0)
        message += QStringLiteral(", au milieu d'une trame (%1 octet(s) en attente)").arg(m_lecteur.octetsEnAttente());
    terminer(ConnexionEchouee, message + QLatin1Char('.'));
}

void Afficheur::erreurSocket(QAbstractSocket::SocketError)
{
    if (m_fini)
        return;
    // Once connected, the end of the connection is reported by deconnecte().
    if (m_connecte && m_socket.state() != QAbstractSocket::UnconnectedState)
        return;
    if (m_connecte) {
        deconnecte();
        return;
    }
    terminer(ConnexionEchouee, QStringLiteral("Connexion impossible à %1:%2 : %3")
                                   .arg(m_parametres.hote)
                                   .arg(m_parametres.port)
                                   .arg(m_socket.errorString()));
}

void Afficheur::arreter()
{
    if (!m_fini)
        terminer(Succes, QStringLiteral("Interrompu."));
}

void Afficheur::terminer(Code code, const QString &message)
{
    m_fini = true;
    Console::vider();
    if (!message.isEmpty())
        Console::erreur(message);
    if (m_parametres.silencieux || code == Succes) {
        const double secondes = m_chrono.isValid() ? double(m_chrono.nsecsElapsed()) / 1e9 : 0.0;
        const QString bilan = QStringLiteral("%1 trame(s) reçue(s) en %2 s, soit %3 trames/s.")
                                  .arg(m_recues)
                                  .arg(secondes, 0, 'f', 3)
                                  .arg(secondes > 0 ? qRound64(double(m_recues) / secondes) : 0);
        if (m_parametres.silencieux) {
            Console::sortie(bilan);
            Console::vider();
        } else {
            Console::erreur(bilan);
        }
    }
    m_socket.abort();
    emit termine(code);
}
