// SPDX-License-Identifier: MIT
#ifndef PARAMETRESCOLLECTEUR_H
#define PARAMETRESCOLLECTEUR_H

#include "AfficheurSocket.h"
#include "LigneCommande.h"
#include "VerificateurSignatures.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// What the collector is started with, apart from Collecteur so that the
// command line can fill it without including the whole collector.
struct ParametresCollecteur
{
    // 0 lets the system choose, for either port.
    quint16 portUdp = LigneCommande::portParDefaut;
    quint16 portAffichage = 56000;
    int clientsMax = AfficheurSocket::clientsMaxParDefaut;
    bool journal = true;
    // Bytes the stored rows may take before a backup is made at once.
    qint64 memoireMax = LigneCommande::memoireMaxParDefaut();
    // Empty: every report is taken, signed or not.
    QString cles;
    qint64 deriveMax = VerificateurSignatures::deriveParDefaut;
    // Empty: display clients from any address.
    QList<QPair<QHostAddress, int>> afficheurs;
};

#endif
