// SPDX-License-Identifier: MIT
#ifndef COLLECTEUR_H
#define COLLECTEUR_H

#include "AfficheurSocket.h"
#include "FileRapports.h"
#include "ParametresCollecteur.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <memory>

class DecodeurRapports;
class GestionBDD;
class HyperviseurUDPSocket;

// The whole collector: the receiver in its thread, the decoder in its own,
// the store in a third, the display server in the caller's thread, and the
// queues between them. Its backups and journal go in the current directory.
class Collecteur : public QObject
{
    Q_OBJECT

public:
    using Parametres = ParametresCollecteur;

    explicit Collecteur(const Parametres &parametres, QObject *parent = nullptr);
    // Stops as arreter() does if it is still running.
    ~Collecteur() override;

    // Builds every part and starts the threads; false, after its console
    // line, when the collector cannot run. Called once.
    bool demarrer();

    quint16 portUdp() const;
    quint16 portAffichage() const;

public slots:
    // Backs up now every report received so far, including those the
    // decoder still holds; returns once the file is written.
    void sauvegarder();
    // Reads what still waits in the UDP socket, sends the display clients
    // their last frames and closes them, writes a last backup with every
    // report received, then stops the threads. Only the first call counts;
    // false when that last backup failed.
    bool arreter();

private:
    bool demarrerThread(QThread &thread, const QString &nom);
    void creerStockage();
    bool sauvegarderTout(bool finale);
    void arreterThreads();

    const Parametres m_parametres;
    bool m_enService = false;
    quint16 m_portUdp = 0;
    // Reports from the receiver to the decoder, then to the store; they
    // outlive the threads that use them.
    FileRapports m_recus;
    FileRapports m_decodes;
    QThread m_threadStockage;
    QThread m_threadDecodage;
    QThread m_threadReception;
    std::unique_ptr<AfficheurSocket> m_affichage;
    // Each deleted in its own thread as that thread ends.
    QPointer<HyperviseurUDPSocket> m_recepteur;
    QPointer<DecodeurRapports> m_decodeur;
    QPointer<GestionBDD> m_stockage;
};

#endif
