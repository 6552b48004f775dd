// SPDX-License-Identifier: MIT
#include "SuiviAlerte.h"

#include <QtGlobal>

#include <cmath>

namespace {

int compter(quint32 bits)
{
    int n = 0;
    for (; bits != 0; bits &= bits - 1)
        ++n;
    return n;
}

} // namespace

EtatAlerte SuiviAlerte::niveauSeuil(const Regle &regle, double valeur, qint64 maintenant)
{
    const EtatAlerte niveaux[2] = {EtatAlerte::Avertissement, EtatAlerte::Critique};
    EtatAlerte atteint = EtatAlerte::Ok;
    alerte.seuil = std::isfinite(regle.avertissement) ? regle.avertissement : regle.critique;
    for (int i = 0; i < 2; ++i) {
        const double seuil = regle.seuil(niveaux[i]);
        const bool tenue = std::isfinite(seuil)
                           && (regle.sens * valeur >= regle.sens * seuil
                               || (m_debut[i] >= 0 && regle.sens * valeur > regle.sens * regle.retourDe(niveaux[i])));
        if (!tenue) {
            m_debut[i] = -1;
            continue;
        }
        if (m_debut[i] < 0)
            m_debut[i] = maintenant;
        if (maintenant - m_debut[i] >= regle.pour) {
            atteint = niveaux[i];
            alerte.seuil = seuil;
        }
    }
    return atteint;
}

void SuiviAlerte::restaurer(const Alerte &gardee, const Regle &regle)
{
    alerte = gardee;
    const qint64 debut = gardee.depuis - regle.pour;
    if (gardee.etat == EtatAlerte::Avertissement || gardee.etat == EtatAlerte::Critique)
        m_debut[0] = debut;
    if (gardee.etat == EtatAlerte::Critique)
        m_debut[1] = debut;
}

bool SuiviAlerte::enregistrer(EtatAlerte etat, qint64 maintenant, bool silence, bool nouveau)
{
    const bool change = etat != alerte.etat;
    const bool silenceChange = silence != alerte.silence && etat != EtatAlerte::Ok;
    const quint32 masque = (quint32(1) << evaluationsSuivies) - 1;
    if (nouveau || change)
        m_changements = ((m_changements << 1) | (change ? 1 : 0)) & masque;
    if (change) {
        alerte.etat = etat;
        alerte.depuis = maintenant;
    }
    alerte.silence = silence;
    const int changements = compter(m_changements);
    if (!alerte.instable && changements > changementsInstables) {
        alerte.instable = true;
        return true;
    }
    if (alerte.instable) {
        if (changements > 0)
            return false;
        alerte.instable = false;
        return true;
    }
    return change || silenceChange;
}
