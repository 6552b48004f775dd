// SPDX-License-Identifier: MIT
#include "LectureJson.h"

#include "ClesJson.h"

namespace LectureJson {

QJsonDocument lire(const QByteArray &octets, QJsonParseError *erreur)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QJsonDocument::fromJson(ClesJson::renommerDoublons(octets), erreur);
#else
    // Qt 6's parser keeps no duplicate key's value behind.
    return QJsonDocument::fromJson(octets, erreur);
#endif
}

QJsonDocument lireRapport(const QString &texte, QJsonParseError *erreur, QByteArray *octets)
{
    QJsonParseError analyse;
    const QByteArray latin1 = texte.toLatin1();
    QJsonDocument document = lire(latin1, &analyse);
    if (analyse.error == QJsonParseError::IllegalUTF8String)
        document = lire(texte.toUtf8(), &analyse);
    if (erreur)
        *erreur = analyse;
    if (octets)
        *octets = latin1;
    return document;
}

} // namespace LectureJson
