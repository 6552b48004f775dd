// SPDX-License-Identifier: MIT
#ifndef LECTUREJSON_H
#define LECTUREJSON_H

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QString>

// Reading JSON from anyone who can send it: on every Qt version, a key that
// repeats costs no memory that stays behind (see ClesJson).
namespace LectureJson {

QJsonDocument lire(const QByteArray &octets, QJsonParseError *erreur = nullptr);

// A report's text: its Latin-1 characters are its bytes, read as UTF-8 JSON;
// agents on older hosts write their texts in Latin-1, whose bytes are not
// UTF-8, and rejecting the report would lose it, so those are read as the
// Latin-1 characters they are. `octets` receives the Latin-1 bytes.
QJsonDocument lireRapport(const QString &texte, QJsonParseError *erreur = nullptr, QByteArray *octets = nullptr);

} // namespace LectureJson

#endif
