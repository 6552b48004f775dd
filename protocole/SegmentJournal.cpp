// SPDX-License-Identifier: MIT
#include "SegmentJournal.h"

#include "FichierSauvegarde.h"

#include <QDir>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>

#include <cstring>

namespace SegmentJournal {

namespace {

// CRC-16/X-25, the checksum qChecksum gives, eight bytes at a step: Qt's own
// goes four bits at a time, and was a tenth of the store's time.
struct TablesSomme
{
    quint16 t[8][256] = {};
    constexpr TablesSomme()
    {
        for (int octet = 0; octet < 256; ++octet) {
            quint16 crc = quint16(octet);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
            t[0][octet] = crc;
        }
        for (int k = 1; k < 8; ++k) {
            for (int octet = 0; octet < 256; ++octet)
                t[k][octet] = quint16((t[k - 1][octet] >> 8) ^ t[0][t[k - 1][octet] & 0xff]);
        }
    }
};
constexpr TablesSomme tablesSomme;

const QRegularExpression &motifLibre()
{
    static const QRegularExpression motif(FichierSauvegarde::motifSegmentJournal());
    return motif;
}

const QRegularExpression &motifAssigne()
{
    static const QRegularExpression motif(FichierSauvegarde::motifSegmentAssigne());
    return motif;
}

} // namespace

const QByteArray &entete()
{
    static const QByteArray octets("CJRNL001");
    return octets;
}

quint16 somme(const char *donnees, qsizetype taille)
{
    const auto &t = tablesSomme.t;
    const auto *p = reinterpret_cast<const uchar *>(donnees);
    quint16 crc = 0xffff;
    for (; taille >= 8; taille -= 8, p += 8) {
        crc ^= quint16(p[0] | (p[1] << 8));
        crc = t[7][crc & 0xff] ^ t[6][crc >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]]
              ^ t[0][p[7]];
    }
    for (; taille > 0; --taille)
        crc = quint16((crc >> 8) ^ t[0][(crc ^ *p++) & 0xff]);
    return quint16(~crc);
}

void ajouter(QByteArray &tampon, const char *octets, qsizetype taille)
{
    char enregistrement[tailleEnregistrement];
    qToBigEndian<quint32>(quint32(taille), enregistrement);
    qToBigEndian<quint16>(somme(octets, taille), enregistrement + 4);
    tampon.append(enregistrement, tailleEnregistrement).append(octets, int(taille));
}

bool estSegment(const char *segment, qsizetype taille)
{
    return taille >= entete().size() && std::memcmp(segment, entete().constData(), size_t(entete().size())) == 0;
}

bool suivant(const char *segment, qsizetype taille, qsizetype &position, Enregistrement &enregistrement, bool verifier)
{
    if (position < 0 || taille - position < tailleEnregistrement)
        return false;
    const char *debut = segment + position;
    const quint32 longueur = qFromBigEndian<quint32>(debut);
    if (qint64(longueur) > qint64(taille - position - tailleEnregistrement))
        return false;
    enregistrement.octets = debut + tailleEnregistrement;
    enregistrement.taille = qsizetype(longueur);
    enregistrement.sommeAttendue = qFromBigEndian<quint16>(debut + 4);
    if (verifier && !enregistrement.intact())
        return false;
    position += tailleEnregistrement + qsizetype(longueur);
    return true;
}

qint64 enregistrementsComplets(const QByteArray &octets, qint64 taille)
{
    qint64 position = estSegment(octets.constData(), octets.size()) ? entete().size() : 0;
    qint64 complets = 0;
    while (position + tailleEnregistrement <= taille) {
        position += tailleEnregistrement + qFromBigEndian<quint32>(octets.constData() + position);
        if (position > taille)
            break;
        ++complets;
    }
    return complets;
}

QList<Segment> segments(const QString &dossier)
{
    QList<Segment> resultat;
    const QStringList noms = QDir(dossier).entryList({FichierSauvegarde::filtreSegmentsJournal()}, QDir::Files | QDir::System);
    for (const QString &nom : noms) {
        const QRegularExpressionMatch libre = motifLibre().match(nom);
        if (libre.hasMatch()) {
            resultat.append({libre.captured(1).toInt(), nom, QString()});
            continue;
        }
        const QRegularExpressionMatch assigne = motifAssigne().match(nom);
        if (assigne.hasMatch())
            resultat.append({assigne.captured(2).toInt(), nom, assigne.captured(1)});
    }
    std::sort(resultat.begin(), resultat.end(), [](const Segment &a, const Segment &b) { return a.numero < b.numero; });
    return resultat;
}

} // namespace SegmentJournal
