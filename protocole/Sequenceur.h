// SPDX-License-Identifier: MIT
#ifndef SEQUENCEUR_H
#define SEQUENCEUR_H

#include <QVector>
#include <QtGlobal>

// Sequence numbers of one agent, consecutive from `premier` (modulo 2^32).
// A real agent starts at 0, which the collector never counts as a loss, so
// that a restart raises no false loss line. For demonstrations, optional
// faults, each counted on the fresh numbers issued (repeats excluded): every
// `trou`-th number skips one (a lost packet), every `repetition`-th is sent
// twice, and every `inversion`-th swaps places with the one after it. 0
// disables a fault.
class Sequenceur
{
public:
    explicit Sequenceur(quint32 premier, int trou = 0, int repetition = 0, int inversion = 0);

    quint32 suivant();

private:
    void ajouterNumero(QVector<quint32> &bloc);

    int m_trou;
    int m_repetition;
    int m_inversion;
    quint64 m_indice = 0;
    quint32 m_dernier;
    QVector<quint32> m_attente;
    int m_position = 0;
};

#endif
