// SPDX-License-Identifier: MIT
#include "LecteurTrames.h"

#include "TrameAffichage.h"

namespace {
constexpr int tailleEntete = TrameAffichage::tailleEntete;
}

void LecteurTrames::ajouter(const QByteArray &octets)
{
    if (!m_erreur.isEmpty())
        return;
    // Frames already read are dropped only once they make up half the buffer,
    // so a burst of small frames is not copied over and over.
    if (m_debut > 0 && m_debut * 2 >= qint64(m_tampon.size())) {
        m_tampon.remove(0, int(m_debut));
        m_debut = 0;
    }
    m_tampon.append(octets);
}

LecteurTrames::Resultat LecteurTrames::lire(QString &texte)
{
    if (!m_erreur.isEmpty())
        return Erreur;
    if (octetsEnAttente() < tailleEntete)
        return Incomplet;

    const auto *entete = reinterpret_cast<const uchar *>(m_tampon.constData() + m_debut);
    const qint32 longueur = qint32((quint32(entete[0]) << 24) | (quint32(entete[1]) << 16)
                                   | (quint32(entete[2]) << 8) | quint32(entete[3]));
    const qint8 marqueur = qint8(entete[4]);
    if (marqueur != TrameAffichage::marqueur) {
        m_erreur = QStringLiteral("Trame invalide : marqueur %1 au lieu de 1.").arg(marqueur);
        return Erreur;
    }
    if (longueur < 0) {
        m_erreur = QStringLiteral("Trame invalide : longueur négative (%1).").arg(longueur);
        return Erreur;
    }
    if (longueur > longueurMaximale) {
        m_erreur = QStringLiteral("Trame invalide : longueur %1 au-delà de la limite de %2 octets.")
                       .arg(longueur)
                       .arg(longueurMaximale);
        return Erreur;
    }
    if (octetsEnAttente() < tailleEntete + qint64(longueur))
        return Incomplet;

    texte = QString::fromLatin1(m_tampon.constData() + m_debut + tailleEntete, longueur);
    m_debut += tailleEntete + qint64(longueur);
    if (m_debut == qint64(m_tampon.size())) {
        m_tampon.resize(0);
        m_debut = 0;
    }
    return TrameLue;
}
