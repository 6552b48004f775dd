// SPDX-License-Identifier: MIT
#ifndef LIMITEECHECS_H
#define LIMITEECHECS_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// Failed logins per client address, on a clock the caller gives (ms): more
// than `echecsMaximum` in a minute shut the address out for a minute, right
// password or not, which also bounds the hashing an address can make the
// server do. The console hears of an address's failures at most once a
// minute, with how many there were since, and once when it is shut out.
class LimiteEchecs
{
public:
    static constexpr int echecsMaximum = 10;
    static constexpr qint64 fenetre = 60000;
    static constexpr qint64 blocage = 60000;
    // Past this many addresses followed, the quiet ones are forgotten at once.
    static constexpr int adressesMaximum = 10000;

    // Milliseconds the address is still shut out for; 0 when it is not.
    qint64 attente(const QString &adresse, qint64 maintenant) const;
    // Counts a failure, `motif` saying why (never a password). The lines to
    // write, if any.
    QStringList echec(const QString &adresse, const QString &motif, qint64 maintenant);
    // Failures not yet told of whose minute is over; forgets quiet addresses.
    QStringList journaliser(qint64 maintenant);
    int adresses() const { return m_adresses.size(); }

private:
    struct Suivi
    {
        QVector<qint64> echecs;
        qint64 bloqueeJusqua = 0;
        qint64 dernierMessage = 0;
        bool dejaSignalee = false;
        int nonSignales = 0;
        QString dernierMotif;
        qint64 derniereActivite = 0;
    };
    static QString ligneComptee(const QString &adresse, const Suivi &suivi);
    void oublier(qint64 maintenant);

    QHash<QString, Suivi> m_adresses;
};

#endif
