// SPDX-License-Identifier: MIT
#include "DecodeurDatagrammes.h"

#include "DatagrammeRapport.h"

DecodeurDatagrammes::DecodeurDatagrammes(int expediteursMax, qint64 oubliMs)
    : m_expediteursMax(qMax(1, expediteursMax))
    , m_oubliMs(oubliMs)
{
    m_horloge.start();
}

DecodeurDatagrammes::Datagramme DecodeurDatagrammes::decoder(const QString &expediteur, const QByteArray &octets)
{
    return decoder(expediteur, octets, m_horloge.elapsed());
}

DecodeurDatagrammes::Datagramme DecodeurDatagrammes::decoder(const QString &expediteur, const QByteArray &octets,
                                                             qint64 maintenantMs)
{
    Datagramme datagramme;
    datagramme.sequence = DatagrammeRapport::sequence(octets);

    oublier(maintenantMs);
    const auto precedent = m_sequences.find(expediteur);
    if (precedent == m_sequences.end()) {
        m_ordre.push_back(expediteur);
        m_sequences.insert(expediteur, Expediteur{datagramme.sequence, maintenantMs, std::prev(m_ordre.end())});
        if (int(m_sequences.size()) > m_expediteursMax) {
            m_sequences.remove(m_ordre.front());
            m_ordre.pop_front();
        }
    } else {
        if (datagramme.sequence != quint32(precedent->sequence + 1u) && datagramme.sequence != 0) {
            datagramme.horsSequence = true;
            datagramme.perdus = int(quint32(datagramme.sequence - precedent->sequence - 1u));
        }
        precedent->sequence = datagramme.sequence;
        precedent->entendu = maintenantMs;
        m_ordre.splice(m_ordre.end(), m_ordre, precedent->place);
    }

    datagramme.texte = DatagrammeRapport::texte(octets);
    return datagramme;
}

void DecodeurDatagrammes::oublier(qint64 maintenantMs)
{
    while (!m_ordre.empty()) {
        const auto ancien = m_sequences.constFind(m_ordre.front());
        if (maintenantMs - ancien->entendu < m_oubliMs)
            return;
        m_sequences.erase(ancien);
        m_ordre.pop_front();
    }
}
