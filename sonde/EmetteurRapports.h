#ifndef EMETTEURRAPPORTS_H
#define EMETTEURRAPPORTS_H

#include "LigneCommandeSonde.h"
#include "Sequenceur.h"

#include <QHostAddress>
#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

class JournalEtats;
class QUdpSocket;

// Numbers each report from 0 and sends it, as one datagram, to every
// collector. Host names are looked up in the background and again at each
// report while they are not found; a collector that refuses (an ICMP error
// reported on a later send) or cannot be reached is said once on the console,
// and once again when it receives again.
class EmetteurRapports : public QObject
{
    Q_OBJECT

public:
    EmetteurRapports(const QVector<AdresseCollecteur> &collecteurs, JournalEtats &journal, QObject *parent = nullptr);
    ~EmetteurRapports() override;

public slots:
    void envoyer(const QVector<QByteArray> &rapports);

private:
    struct Cible
    {
        AdresseCollecteur adresse;
        QString texte;
        QHostAddress ip;
        bool enRecherche = false;
        bool refus = false;
        std::unique_ptr<QUdpSocket> socket;
    };

    void rechercher(Cible &cible);
    // The socket's error when the datagram could not be sent; empty when it was.
    QString envoyerA(Cible &cible, const QByteArray &datagramme);

    JournalEtats &m_journal;
    Sequenceur m_sequenceur{0};
    std::vector<std::unique_ptr<Cible>> m_cibles;
    QByteArray m_tampon;
};

#endif
