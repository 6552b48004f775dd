// SPDX-License-Identifier: MIT
#include "FenetreMaintenance.h"

#include <QDateTime>

namespace {

constexpr qint64 minutesJour = 24 * 60;
constexpr qint64 minutesSemaine = 7 * minutesJour;

QRegularExpression expression(const QString &motif)
{
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(motif));
}

} // namespace

FenetreMaintenance FenetreMaintenance::entre(const QString &motif, qint64 debut, qint64 fin)
{
    FenetreMaintenance fenetre;
    fenetre.m_motif = motif;
    fenetre.m_expression = expression(motif);
    fenetre.m_debut = debut;
    fenetre.m_fin = fin;
    return fenetre;
}

FenetreMaintenance FenetreMaintenance::hebdomadaire(const QString &motif, int jour, int debut, int fin)
{
    FenetreMaintenance fenetre = entre(motif, debut, fin);
    fenetre.m_hebdomadaire = true;
    fenetre.m_jour = jour;
    return fenetre;
}

bool FenetreMaintenance::couvre(const QString &hote, qint64 instant) const
{
    if (!m_expression.match(hote).hasMatch())
        return false;
    return m_hebdomadaire ? dansLaSemaine(instant) : instant >= m_debut && instant < m_fin;
}

bool FenetreMaintenance::dansLaSemaine(qint64 instant) const
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(instant);
    const qint64 minute = (local.date().dayOfWeek() - 1) * minutesJour + local.time().msecsSinceStartOfDay() / 60000;
    // An end at or before the start means the next day's.
    const qint64 duree = m_fin > m_debut ? m_fin - m_debut : m_fin - m_debut + minutesJour;
    for (int jour = 1; jour <= 7; ++jour) {
        if (m_jour != 0 && jour != m_jour)
            continue;
        const qint64 debut = (jour - 1) * minutesJour + m_debut;
        if (((minute - debut) % minutesSemaine + minutesSemaine) % minutesSemaine < duree)
            return true;
    }
    return false;
}
