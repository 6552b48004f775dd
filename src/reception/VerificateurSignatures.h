// SPDX-License-Identifier: MIT
#ifndef VERIFICATEURSIGNATURES_H
#define VERIFICATEURSIGNATURES_H

#include "CodeMac.h"
#include "FichierCles.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Whether a report datagram comes from the agent of the host it names: its
// signature verifies with one of that host's keys, its time is within the
// allowed drift of ours, and it is newer than the last one accepted from
// that host (a datagram captured and sent again is refused). Refusals are
// counted by reason, and told at most once a minute per sender and reason.
class VerificateurSignatures
{
public:
    enum Raison { SansSignature, HoteSansCle, SignatureFausse, Rejouee, TropAncienne, TropEnAvance, NombreRaisons };
    static constexpr qint64 deriveParDefaut = 120;
    static constexpr qint64 periodeLignes = 60000;
    // Senders whose refusals wait to be told; past this, new ones are told at once and not followed.
    static constexpr int expediteursSuivis = 4096;

    VerificateurSignatures(const FichierCles::Cles &cles, qint64 deriveMaxMs, qint64 periodeLignesMs = periodeLignes);

    // `maintenant`: the system clock, µs since the epoch, as the signatures'
    // times. True when the datagram is to be taken; otherwise `raison` says why.
    bool verifier(const QByteArray &datagramme, const QString &texte, qint64 maintenant, Raison &raison);

    // Counts a refusal; the line to print now, if any: none while the
    // sender's line for that reason was printed less than a minute ago.
    QStringList refuser(const QString &expediteur, Raison raison, qint64 maintenant);
    // The counts held back whose minute has passed: called now and then,
    // not at each refusal, which may come by the thousand.
    QStringList lignesDues(qint64 maintenant);
    bool attente() const { return !m_suivis.isEmpty(); }

    quint64 refusees(Raison raison) const { return m_refusees[raison]; }
    static QString nomRaison(Raison raison);

private:
    struct Suivi
    {
        qint64 ligne = 0; // when its last line was printed
        quint64 retenues = 0;
    };
    static QString ligne(const QString &expediteur, Raison raison, quint64 nombre);

    // Each key prepared once.
    QHash<QString, std::vector<std::shared_ptr<const CodeMac>>> m_cles;
    qint64 m_derive; // µs
    qint64 m_periode;
    QHash<QString, qint64> m_derniers; // by host: the time of its last accepted datagram, µs
    QHash<QPair<QString, int>, Suivi> m_suivis;
    quint64 m_refusees[NombreRaisons] = {};
};

#endif
