// SPDX-License-Identifier: MIT
#ifndef RAPPORTDECODE_H
#define RAPPORTDECODE_H

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

// A report text read as JSON, ready for the store. Decoding needs nothing of
// the store, so it is done where the report arrives, on another core than
// the store's insertions.
class RapportDecode
{
public:
    RapportDecode() = default;
    explicit RapportDecode(const QString &texte);

    // The text's Latin-1 bytes, as the journal keeps them.
    const QByteArray &octets() const { return m_octets; }
    bool lisible() const { return m_lisible; }
    const QJsonDocument &document() const { return m_document; }

private:
    QByteArray m_octets;
    QJsonDocument m_document;
    bool m_lisible = false;
};

#endif
