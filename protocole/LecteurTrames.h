// SPDX-License-Identifier: MIT
#ifndef LECTEURTRAMES_H
#define LECTEURTRAMES_H

#include <QByteArray>
#include <QString>

// Cuts the collector's display stream into frames, whatever the sizes of the
// chunks the socket delivers: a 32-bit signed big-endian length, the 8-bit
// marker 1, then `length` bytes of Latin-1 text. A malformed header puts the
// reader in a lasting error state, since nothing after it can be trusted.
class LecteurTrames
{
public:
    enum Resultat { TrameLue, Incomplet, Erreur };

    // Far beyond any report; a larger length means the stream is not a
    // display stream, and waiting for that many bytes would only eat memory.
    static constexpr qint64 longueurMaximale = 64 * 1024 * 1024;

    void ajouter(const QByteArray &octets);

    // TrameLue puts the frame's text in `texte`; Incomplet waits for more
    // bytes; Erreur gives the reason in erreur().
    Resultat lire(QString &texte);

    QString erreur() const { return m_erreur; }
    qint64 octetsEnAttente() const { return qint64(m_tampon.size()) - m_debut; }

private:
    QByteArray m_tampon;
    qint64 m_debut = 0;
    QString m_erreur;
};

#endif
