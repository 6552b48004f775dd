// SPDX-License-Identifier: MIT
#include "SegmentJournal.h"

#include <QtEndian>

namespace {

constexpr int tailleEnregistrement = 6;

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

} // namespace

const QByteArray &SegmentJournal::entete()
{
    static const QByteArray octets("CJRNL001");
    return octets;
}

void SegmentJournal::ajouter(QByteArray &octets, const QByteArray &rapport)
{
    char enregistrement[tailleEnregistrement];
    qToBigEndian<quint32>(quint32(rapport.size()), enregistrement);
    qToBigEndian<quint16>(somme(rapport.constData(), rapport.size()), enregistrement + 4);
    octets.append(enregistrement, tailleEnregistrement).append(rapport);
}

QStringList SegmentJournal::lire(const QByteArray &octets, qint64 &ignores)
{
    QStringList rapports;
    qint64 position = 0;
    if (octets.startsWith(entete())) {
        position = entete().size();
        while (position + tailleEnregistrement <= octets.size()) {
            const char *debut = octets.constData() + position;
            const quint32 longueur = qFromBigEndian<quint32>(debut);
            const quint16 attendue = qFromBigEndian<quint16>(debut + 4);
            if (qint64(longueur) > octets.size() - position - tailleEnregistrement
                || somme(debut + tailleEnregistrement, longueur) != attendue)
                break;
            rapports.append(QString::fromLatin1(debut + tailleEnregistrement, int(longueur)));
            position += tailleEnregistrement + qint64(longueur);
        }
    }
    ignores += octets.size() - position;
    return rapports;
}

qint64 SegmentJournal::enregistrementsComplets(const QByteArray &octets, qint64 taille)
{
    qint64 position = octets.startsWith(entete()) ? entete().size() : 0;
    qint64 complets = 0;
    while (position + tailleEnregistrement <= taille) {
        position += tailleEnregistrement + qFromBigEndian<quint32>(octets.constData() + position);
        if (position > taille)
            break;
        ++complets;
    }
    return complets;
}

quint16 SegmentJournal::somme(const char *donnees, qsizetype taille)
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
