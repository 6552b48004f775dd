// SPDX-License-Identifier: MIT
#ifndef ETATFLOTTE_H
#define ETATFLOTTE_H

#include "LecteurRapport.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <deque>
#include <iterator>

// One point of a hypervisor's recent values, in the window the live charts show.
struct PointFenetre
{
    qint64 recu = 0; // reception, ms since the epoch
    double t = 0;    // the report's time, Unix seconds
    std::array<double, std::size(champsHyperviseur)> mesures{}; // as champsHyperviseur lists them
};

struct HoteFlotte
{
    RapportHyperviseur dernier;
    qint64 recu = 0;       // last reception, ms since the epoch
    qint64 intervalle = 0; // usual gap between its reports, ms; 0 until two arrived
    std::deque<PointFenetre> fenetre;
    qint64 publie = 0; // last publication of its summary, ms since the epoch
};

// The fleet as the dashboard knows it: each hypervisor's latest report and a
// window of its recent values. Instants are passed in (ms since the epoch),
// so that the clock is the caller's. Lives in one thread.
class EtatFlotte
{
public:
    // What changed since the previous publication: one summary per changed
    // hypervisor not yet published in this second of the clock, and each
    // one's VM list apart. Called when prochainePublication() comes, so that
    // a host's report goes out as soon as its second allows.
    struct Publication
    {
        QByteArray maj;                  // JSON {maintenant, hotes[], oublies[]}, empty when nothing changed
        QHash<QString, QByteArray> vms;  // per changed hypervisor: JSON {nom, vms[]}
    };

    // Until a host has sent twice, its agent's default interval is assumed.
    static constexpr qint64 intervalleParDefaut = 10000;
    // At most one summary per host in each such slice of the clock (ms since
    // the epoch), whatever its report rate. Slices rather than this long
    // after the previous summary: a host that reports once a second would
    // otherwise wait each time a little longer than the time before (by
    // however late its previous summary went), until a whole second.
    static constexpr qint64 periodeHote = 1000;
    // Missing this many usual intervals makes a host silent.
    static constexpr int intervallesManques = 3;

    explicit EtatFlotte(qint64 fenetreMs = 15 * 60000);

    // Returns the instant from which the host's summary may be published.
    qint64 ajouter(const RapportHyperviseur &rapport, qint64 maintenant);
    // Also forgets the hosts silent for the whole window.
    Publication publier(qint64 maintenant);
    // The first instant at which publier() has something to do (a changed
    // host's second ends, a host is forgotten); -1 when the fleet is empty.
    qint64 prochainePublication() const;

    QByteArray instantane(qint64 maintenant, bool connecte) const;
    // Empty when the host is unknown.
    QByteArray detail(const QString &nom, qint64 maintenant) const;
    QByteArray vms(const QString &nom) const;

    bool silencieux(const HoteFlotte &hote, qint64 maintenant) const;
    const QHash<QString, HoteFlotte> &hotes() const { return m_hotes; }
    qint64 fenetre() const { return m_fenetre; }

private:
    static qint64 suivantePublication(const HoteFlotte &hote);
    QByteArray resume(const HoteFlotte &hote, qint64 maintenant) const;

    qint64 m_fenetre;
    QHash<QString, HoteFlotte> m_hotes;
    QSet<QString> m_modifies;
    QStringList m_oublies;
};

#endif
