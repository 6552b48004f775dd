// SPDX-License-Identifier: MIT
#ifndef SUIVIALERTE_H
#define SUIVIALERTE_H

#include "Alerte.h"
#include "Regle.h"

// What the evaluator keeps of one (rule, hypervisor[, VM]): its state, since
// when each threshold's condition holds, and its last evaluations' changes.
class SuiviAlerte
{
public:
    // More than this many changes in the last evaluations make it unstable;
    // none in as many make it stable again.
    static constexpr int changementsInstables = 5;
    static constexpr int evaluationsSuivies = 20;

    // The level a threshold rule reaches with this value: a level's condition
    // starts at its threshold and lasts while the value stays beyond its clear
    // value, and the level is reached once its condition held for `pour`.
    EtatAlerte niveauSeuil(const Regle &regle, double valeur, qint64 maintenant);
    // Takes up an alert kept across a restart: its conditions held since it fired.
    void restaurer(const Alerte &gardee, const Regle &regle);
    // Forgets the conditions under way: the value cannot be judged.
    void interrompre() { m_debut[0] = m_debut[1] = -1; }
    // A level's condition holds: the clock alone may change its state.
    bool conditionTenue() const { return m_debut[0] >= 0 || m_debut[1] >= 0; }
    // Records one evaluation; true when it is to be told: a change of state
    // or of silence, or the start or end of its instability (one event for
    // the changes in between). Only a new report or a change counts among
    // the evaluations followed: the clock's own ticks, far more frequent,
    // would otherwise hide a host that flaps at each report.
    bool enregistrer(EtatAlerte etat, qint64 maintenant, bool silence, bool nouveau = true);

    Alerte alerte;

private:
    qint64 m_debut[2] = {-1, -1}; // warning, critical: ms since the epoch, -1 when not held
    quint32 m_changements = 0;     // one bit per evaluation, the latest lowest
};

#endif
