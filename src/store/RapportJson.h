// SPDX-License-Identifier: MIT
#ifndef RAPPORTJSON_H
#define RAPPORTJSON_H

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

// A report text read as JSON, ready for the store. Decoding needs nothing of
// the store, so the collector has it done on another core than the store's
// insertions.
class RapportJson
{
public:
    RapportJson() = default;
    // Decoded at once.
    explicit RapportJson(const QString &texte);
    // Kept as it is until decoder().
    static RapportJson aDecoder(const QString &texte);

    void decoder();
    bool decode() const { return m_decode; }

    // The text's Latin-1 bytes, as the journal keeps them.
    const QByteArray &octets() const { return m_octets; }
    bool lisible() const { return m_lisible; }
    const QJsonDocument &document() const { return m_document; }

private:
    QString m_texte;
    QByteArray m_octets;
    QJsonDocument m_document;
    bool m_lisible = false;
    bool m_decode = false;
};

#endif
