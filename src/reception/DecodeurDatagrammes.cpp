#include "DecodeurDatagrammes.h"

#include "DatagrammeRapport.h"

DecodeurDatagrammes::Datagramme DecodeurDatagrammes::decoder(const QString &expediteur, const QByteArray &octets)
{
    Datagramme datagramme;
    datagramme.sequence = DatagrammeRapport::sequence(octets);

    const auto precedent = m_sequences.find(expediteur);
    if (precedent == m_sequences.end()) {
        m_sequences.insert(expediteur, datagramme.sequence);
    } else {
        if (datagramme.sequence != quint32(*precedent + 1u) && datagramme.sequence != 0) {
            datagramme.horsSequence = true;
            datagramme.perdus = int(quint32(datagramme.sequence - *precedent - 1u));
        }
        *precedent = datagramme.sequence;
    }

    datagramme.texte = DatagrammeRapport::texte(octets);
    return datagramme;
}
