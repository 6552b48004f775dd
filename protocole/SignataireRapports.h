// SPDX-License-Identifier: MIT
#ifndef SIGNATAIRERAPPORTS_H
#define SIGNATAIRERAPPORTS_H

#include "FichierCles.h"

#include "CodeMac.h"

#include <QByteArray>
#include <QString>

#include <memory>

// Signs one host's report datagrams with its key. Each time is later than
// the one before, even within one microsecond, so that the collector, which
// refuses a datagram no newer than the last, never takes one for a replay.
class SignataireRapports
{
public:
    SignataireRapports() = default;
    explicit SignataireRapports(const QByteArray &cle) : m_cle(std::make_shared<CodeMac>(cle)) {}

    // The key of `nom` among `cles` (its last line, the newest); false with
    // `erreur` when there is none.
    static bool choisir(const FichierCles::Cles &cles, const QString &nom, SignataireRapports &signataire, QString &erreur);

    bool actif() const { return m_cle != nullptr; }
    // `maintenant`: the system clock, µs since the epoch.
    void signer(QByteArray &datagramme, qint64 maintenant);

private:
    std::shared_ptr<const CodeMac> m_cle;
    qint64 m_dernier = 0;
};

#endif
