// SPDX-License-Identifier: MIT
#ifndef FENETREMAINTENANCE_H
#define FENETREMAINTENANCE_H

#include <QRegularExpression>
#include <QString>

// A span in which the alerts of the hosts a pattern names are shown as
// silenced: from one local date and time to another, or each week (or each
// day) between two local times of day, across midnight when the end comes first.
class FenetreMaintenance
{
public:
    // `motif`: a host name, or a shell pattern (*, ?, [...]).
    static FenetreMaintenance entre(const QString &motif, qint64 debut, qint64 fin);
    // `jour`: 1 (Monday) to 7, or 0 for every day; times in minutes of the day.
    static FenetreMaintenance hebdomadaire(const QString &motif, int jour, int debut, int fin);

    bool couvre(const QString &hote, qint64 instant) const;
    QString motif() const { return m_motif; }

private:
    bool dansLaSemaine(qint64 instant) const;

    QString m_motif;
    QRegularExpression m_expression;
    bool m_hebdomadaire = false;
    qint64 m_debut = 0; // ms since the epoch, or minutes from Monday 00:00
    qint64 m_fin = 0;
    int m_jour = 0;
};

#endif
