#include "DecodeurDatagrammes.h"

DecodeurDatagrammes::Datagramme DecodeurDatagrammes::decoder(const QString &expediteur, const QByteArray &octets)
{
    Datagramme datagramme;
    const int entete = qMin(4, octets.size());
    for (int i = 0; i < entete; ++i)
        datagramme.sequence = (datagramme.sequence << 8) | quint8(octets.at(i));

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

    const char *texte = octets.constData() + entete;
    const int longueur = int(qstrnlen(texte, uint(octets.size() - entete)));
    datagramme.texte = QString::fromLatin1(texte, longueur);
    return datagramme;
}
