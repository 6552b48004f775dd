// SPDX-License-Identifier: MIT
#include "Sequenceur.h"

Sequenceur::Sequenceur(quint32 premier, int trou, int repetition, int inversion)
    : m_trou(qMax(0, trou))
    , m_repetition(qMax(0, repetition))
    , m_inversion(qMax(0, inversion))
    , m_dernier(premier - 1u)
{
}

quint32 Sequenceur::suivant()
{
    if (m_position >= m_attente.size()) {
        m_attente.clear();
        m_position = 0;
        if (m_inversion > 0 && (m_indice + 1) % quint64(m_inversion) == 0) {
            QVector<quint32> premier;
            QVector<quint32> second;
            ajouterNumero(premier);
            ajouterNumero(second);
            m_attente = second + premier;
        } else {
            ajouterNumero(m_attente);
        }
    }
    return m_attente.at(m_position++);
}

void Sequenceur::ajouterNumero(QVector<quint32> &bloc)
{
    ++m_indice;
    m_dernier += (m_trou > 0 && m_indice % quint64(m_trou) == 0) ? 2u : 1u;
    bloc.append(m_dernier);
    if (m_repetition > 0 && m_indice % quint64(m_repetition) == 0)
        bloc.append(m_dernier);
}
