// SPDX-License-Identifier: MIT
#include "Collecteur.h"

#include "Console.h"
#include "DecodeurRapports.h"
#include "GestionBDD.h"
#include "HyperviseurUDPSocket.h"

#include <QCoreApplication>

Collecteur::Collecteur(const Parametres &parametres, QObject *parent)
    : QObject(parent)
    , m_parametres(parametres)
{
}

Collecteur::~Collecteur()
{
    arreter();
    arreterThreads();
    // Never moved: its thread could not start.
    delete m_recepteur.data();
}

bool Collecteur::demarrer()
{
    Console::ecrire(QStringLiteral("Ecoute sur le port %1").arg(m_parametres.portUdp));

    m_recepteur = new HyperviseurUDPSocket(m_parametres.portUdp, nullptr);
    if (m_recepteur->state() != QAbstractSocket::BoundState) {
        // A collector that cannot receive must not look as if it were listening.
        Console::ecrire(QStringLiteral("Impossible de lier le port UDP %1 : %2")
                            .arg(m_parametres.portUdp)
                            .arg(m_recepteur->errorString()));
        return false;
    }

    if (!m_parametres.cles.isEmpty()) {
        FichierCles::Cles cles;
        QString erreur;
        if (!FichierCles::lire(m_parametres.cles, cles, erreur)) {
            Console::ecrire(QStringLiteral("Clés illisibles : %1.").arg(erreur));
            return false;
        }
        m_recepteur->exigerSignatures(cles, m_parametres.deriveMax * 1000);
        Console::ecrire(QStringLiteral("Rapports signés exigés : clés de %1 hôte(s) lues dans %2, écart d'heure permis %3 s.")
                            .arg(cles.size())
                            .arg(m_parametres.cles)
                            .arg(m_parametres.deriveMax));
    }

    m_affichage = std::make_unique<AfficheurSocket>(m_parametres.portAffichage, nullptr, m_parametres.clientsMax);
    m_affichage->restreindre(m_parametres.afficheurs);
    if (!m_parametres.afficheurs.isEmpty()) {
        QStringList reseaux;
        for (const auto &reseau : qAsConst(m_parametres.afficheurs))
            reseaux.append(QStringLiteral("%1/%2").arg(reseau.first.toString()).arg(reseau.second));
        Console::ecrire(QStringLiteral("Clients d'affichage permis depuis : %1.").arg(reseaux.join(QStringLiteral(", "))));
    }

    // The store works in a thread of its own, so that a backup never holds up
    // the relay.
    if (!demarrerThread(m_threadStockage, QStringLiteral("du stockage")))
        return false;
    creerStockage();

    // Each thread is started before anything moves into it: a thread the
    // system refuses leaves no object stranded in it.
    if (!demarrerThread(m_threadDecodage, QStringLiteral("du décodage")))
        return false;
    m_decodeur = new DecodeurRapports(&m_recus, &m_decodes, nullptr);
    connect(&m_threadDecodage, &QThread::finished, m_decodeur.data(), &QObject::deleteLater);
    m_decodeur->moveToThread(&m_threadDecodage);

    // Queued to this thread, which accepts the display clients: a client
    // whose connection the system has already completed is served before
    // the reports read after it, from the first one on.
    connect(m_recepteur.data(), &HyperviseurUDPSocket::nouvellesDonnes, m_affichage.get(),
            &AfficheurSocket::receptionDonnees);
    // Through the queues rather than one event per report: the decoder and
    // the store take a burst at once.
    connect(m_recepteur.data(), &HyperviseurUDPSocket::nouvellesDonnes, &m_recus,
            qOverload<const QString &>(&FileRapports::ajouter), Qt::DirectConnection);
    m_recus.differerReveil(true);
    connect(m_recepteur.data(), &HyperviseurUDPSocket::datagrammesLus, &m_recus, &FileRapports::publier,
            Qt::DirectConnection);

    // Only once everything is connected: a report read before would reach
    // neither the display clients nor the store. The receiver reads nothing
    // until it is in its thread, as this one runs no event loop meanwhile.
    if (!demarrerThread(m_threadReception, QStringLiteral("de réception")))
        return false;
    // Its socket notifier must be released in the thread that uses it.
    connect(&m_threadReception, &QThread::finished, m_recepteur.data(), &QObject::deleteLater);
    m_portUdp = m_recepteur->localPort();
    m_recepteur->moveToThread(&m_threadReception);
    m_enService = true;
    return true;
}

bool Collecteur::demarrerThread(QThread &thread, const QString &nom)
{
    thread.start();
    if (thread.isRunning())
        return true;
    Console::ecrire(QStringLiteral("Impossible de démarrer le thread %1.").arg(nom));
    return false;
}

void Collecteur::creerStockage()
{
    // An SQL connection belongs to the thread that opens it: the store is
    // built in its own.
    auto *contexte = new QObject;
    contexte->moveToThread(&m_threadStockage);
    QMetaObject::invokeMethod(
        contexte,
        [this] {
            m_stockage = new GestionBDD(nullptr);
            m_stockage->limiterMemoire(m_parametres.memoireMax);
            // Before any report arrives: what a crash left is stored first.
            if (m_parametres.journal)
                m_stockage->activerJournal(QStringLiteral("."));
            m_stockage->suivreFile(&m_decodes);
        },
        Qt::BlockingQueuedConnection);
    contexte->deleteLater();
    connect(&m_threadStockage, &QThread::finished, m_stockage.data(), &QObject::deleteLater);
}

quint16 Collecteur::portUdp() const
{
    return m_portUdp;
}

quint16 Collecteur::portAffichage() const
{
    return m_affichage ? m_affichage->serverPort() : 0;
}

void Collecteur::sauvegarder()
{
    if (m_enService)
        sauvegarderTout(false);
}

bool Collecteur::sauvegarderTout(bool finale)
{
    QMetaObject::invokeMethod(m_decodeur.data(), &DecodeurRapports::decoder, Qt::BlockingQueuedConnection);
    bool reussie = true;
    GestionBDD *stockage = m_stockage.data();
    QMetaObject::invokeMethod(
        stockage,
        [stockage, finale, &reussie] {
            if (finale)
                reussie = stockage->sauvegarderFin();
            else
                stockage->sauvegarderBDD();
        },
        Qt::BlockingQueuedConnection);
    return reussie;
}

bool Collecteur::arreter()
{
    if (!m_enService)
        return true;
    m_enService = false;

    // What was read, or still waits in the kernel's buffer, reaches the
    // display clients and the last backup.
    QMetaObject::invokeMethod(m_recepteur.data(), &HyperviseurUDPSocket::lireDatagrammes,
                              Qt::BlockingQueuedConnection);
    m_threadReception.quit();
    m_threadReception.wait();

    // The reports already queued to the display server go out as frames
    // ahead of the closing, which lets each client take what it was sent.
    QCoreApplication::sendPostedEvents(m_affichage.get(), QEvent::MetaCall);
    m_affichage->fermerConnexions();
    const bool sauvegardee = sauvegarderTout(true);
    arreterThreads();
    return sauvegardee;
}

void Collecteur::arreterThreads()
{
    for (QThread *thread : {&m_threadReception, &m_threadDecodage, &m_threadStockage}) {
        thread->quit();
        thread->wait();
    }
}
