// SPDX-License-Identifier: MIT
#ifndef EMETTEURRAPPORTS_H
#define EMETTEURRAPPORTS_H

#include "LigneCommandeSonde.h"
#include "Sequenceur.h"
#include "SignataireRapports.h"

#include <QHostAddress>
#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

class JournalEtats;

// Numbers each report from 0 and sends it, as one datagram, to every
// collector. Host names are looked up in the background and again at each
// report while they are not found; a collector that refuses or cannot be
// reached is said once on the console, and once again when it receives again.
// Each collector has its own connected UDP socket: Linux reports the ICMP
// refusal of a datagram only to a connected socket, on its next send, and Qt
// turns that errno into a generic error, so the socket is the system's own.
class EmetteurRapports : public QObject
{
    Q_OBJECT

public:
    EmetteurRapports(const QVector<AdresseCollecteur> &collecteurs, JournalEtats &journal,
                     const SignataireRapports &signataire = SignataireRapports(), QObject *parent = nullptr);
    ~EmetteurRapports() override;

public slots:
    void envoyer(const QVector<QByteArray> &rapports);

private:
    struct Cible
    {
        AdresseCollecteur adresse;
        QString texte;
        bool enRecherche = false;
        int descripteur = -1;
    };

    void rechercher(Cible &cible);
    void ouvrir(Cible &cible, const QHostAddress &adresse);
    // The reason the datagram, or the one before it, did not reach the
    // collector; empty when both did.
    QString envoyerA(Cible &cible, const QByteArray &datagramme);

    JournalEtats &m_journal;
    Sequenceur m_sequenceur{0};
    std::vector<std::unique_ptr<Cible>> m_cibles;
    QByteArray m_tampon;
    SignataireRapports m_signataire;
};

#endif
