// SPDX-License-Identifier: MIT
#ifndef AGENT_H
#define AGENT_H

#include "HyperviseurSimule.h"
#include "Sequenceur.h"
#include "SignataireRapports.h"

#include <QHostAddress>
#include <QString>

#include <memory>
#include <vector>

class QUdpSocket;

struct ParametresAgent
{
    QHostAddress cible{QHostAddress::LocalHost};
    quint16 port = 55000;
    int hyperviseurs = 1;
    int vms = 3;
    double rythme = 1;   // datagrams per second and per hypervisor, 0: as fast as possible
    qint64 nombre = 0;   // datagrams per hypervisor, 0: no limit
    double duree = 0;    // seconds, 0: no limit
    int trou = 0;
    int repetition = 0;
    int inversion = 0;
    bool silencieux = false;
    // Empty: the reports go unsigned.
    FichierCles::Cles cles;
};

// Sends the simulated hypervisors' report datagrams in rounds, one datagram
// per hypervisor a round, paced on a steady clock so that a late round is
// caught up and the average rate holds.
class Agent
{
public:
    explicit Agent(const ParametresAgent &parametres);
    ~Agent();

    // Binds one socket per hypervisor; on loopback each has its own source
    // address (127.0.0.1, 127.0.0.2...), so the collector tracks each
    // sequence apart. Prints the reason and returns false on failure.
    bool preparer();

    // Returns the process's exit code. Delivers the thread's events every
    // tenth of a second while it sends, for a stop to reach arreter().
    int executer();

    // The current round ends, then the summary.
    void arreter() { m_arret = true; }

private:
    struct Emetteur
    {
        HyperviseurSimule hyperviseur;
        Sequenceur sequenceur;
        std::unique_ptr<QUdpSocket> socket;
        SignataireRapports signataire;
    };

    ParametresAgent m_parametres;
    std::vector<Emetteur> m_emetteurs;
    bool m_arret = false;
};

#endif
