// SPDX-License-Identifier: MIT
#ifndef FILTREAFFICHEURS_H
#define FILTREAFFICHEURS_H

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QPair>

// The networks display clients may connect from. A refused one is counted,
// and told at most once a minute: a scan of the port must not flood the console.
class FiltreAfficheurs
{
public:
    static constexpr qint64 periodeLignes = 60000;

    // Empty: every address.
    void restreindre(const QList<QPair<QHostAddress, int>> &reseaux) { m_reseaux = reseaux; }
    bool restreint() const { return !m_reseaux.isEmpty(); }

    // Whether the client connected on `descripteur` may stay; counts and
    // tells the refusal when not.
    bool accepter(qintptr descripteur);
    bool permis(const QHostAddress &adresse) const;
    quint64 refuses() const { return m_refuses; }

private:
    QList<QPair<QHostAddress, int>> m_reseaux;
    quint64 m_refuses = 0;
    quint64 m_nonDits = 0;
    QElapsedTimer m_derniereLigne;
};

#endif
