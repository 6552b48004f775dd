// SPDX-License-Identifier: MIT
#include "FichierArchive.h"

#include <QCryptographicHash>
#include <QDir>

namespace FichierArchive {

namespace {

constexpr qint64 tailleEntete = 128;
constexpr qint64 tailleSource = 120;
constexpr qint64 tailleRra = 120;
constexpr qint64 tailleDerniereMiseAJour = 16;
constexpr qint64 tailleEtatSource = 112;
constexpr qint64 tailleEtatConsolidation = 80;
constexpr qint64 taillePointeurRra = 8;
constexpr qint64 tailleValeur = 8;

bool gardeTel(char octet, bool premier)
{
    return (octet >= 'A' && octet <= 'Z') || (octet >= 'a' && octet <= 'z') || (octet >= '0' && octet <= '9')
           || octet == '_' || octet == '-' || (octet == '.' && !premier);
}

int valeurHexa(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

int pas()
{
    return 10;
}

int battement()
{
    return 180;
}

const QVector<Palier> &paliers()
{
    static const QVector<Palier> liste{{300, 2304}, {3600, 8784}, {86400, 1827}};
    return liste;
}

const QStringList &fonctions()
{
    static const QStringList liste{QStringLiteral("AVERAGE"), QStringLiteral("MAX")};
    return liste;
}

const QStringList &sourcesHyperviseur()
{
    static const QStringList liste{QStringLiteral("cpu"),     QStringLiteral("ram"),     QStringLiteral("disk"),
                                   QStringLiteral("network"), QStringLiteral("cputemp"), QStringLiteral("mbtemp")};
    return liste;
}

const QStringList &sourcesVM()
{
    static const QStringList liste{QStringLiteral("cpu"), QStringLiteral("ram"), QStringLiteral("maxram"),
                                   QStringLiteral("network")};
    return liste;
}

QStringList definitions(const QStringList &sources)
{
    QStringList arguments;
    for (const QString &source : sources)
        arguments.append(QStringLiteral("DS:%1:GAUGE:%2:U:U").arg(source).arg(battement()));
    for (const Palier &palier : paliers()) {
        for (const QString &fonction : fonctions())
            arguments.append(QStringLiteral("RRA:%1:0.5:%2:%3").arg(fonction).arg(palier.secondes / pas()).arg(palier.lignes));
    }
    return arguments;
}

qint64 taille(int nombreSources)
{
    const qint64 sources = nombreSources;
    const qint64 rra = qint64(paliers().size()) * fonctions().size();
    qint64 lignes = 0;
    for (const Palier &palier : paliers())
        lignes += qint64(palier.lignes) * fonctions().size();
    return tailleEntete + sources * tailleSource + rra * tailleRra + tailleDerniereMiseAJour
           + sources * tailleEtatSource + rra * sources * tailleEtatConsolidation + rra * taillePointeurRra
           + lignes * sources * tailleValeur;
}

QString nomFichier(const QString &nom)
{
    static const char hexa[] = "0123456789ABCDEF";
    const QByteArray octets = nom.toUtf8();
    QString encode;
    encode.reserve(octets.size());
    QVector<int> coupures; // where a whole byte's encoding starts
    for (int i = 0; i < octets.size(); ++i) {
        const char octet = octets.at(i);
        coupures.append(encode.size());
        if (gardeTel(octet, i == 0)) {
            encode.append(QLatin1Char(octet));
        } else {
            const auto u = static_cast<unsigned char>(octet);
            encode.append(QLatin1Char('%'));
            encode.append(QLatin1Char(hexa[u >> 4]));
            encode.append(QLatin1Char(hexa[u & 0xF]));
        }
    }
    if (encode.isEmpty())
        return QStringLiteral("%");
    if (encode.size() <= longueurMaximum)
        return encode;
    const QByteArray empreinte = QCryptographicHash::hash(octets, QCryptographicHash::Sha256).toHex();
    const int garde = longueurMaximum - 1 - empreinte.size();
    int coupure = 0;
    for (const int debut : qAsConst(coupures)) {
        if (debut > garde)
            break;
        coupure = debut;
    }
    return encode.left(coupure) + QLatin1Char('~') + QString::fromLatin1(empreinte);
}

QString nomDepuisFichier(const QString &composant)
{
    if (composant == QLatin1String("%"))
        return QStringLiteral("");
    QByteArray octets;
    for (int i = 0; i < composant.size(); ++i) {
        const QChar c = composant.at(i);
        if (c == QLatin1Char('%')) {
            const int fort = i + 1 < composant.size() ? valeurHexa(composant.at(i + 1)) : -1;
            const int faible = i + 2 < composant.size() ? valeurHexa(composant.at(i + 2)) : -1;
            if (fort < 0 || faible < 0)
                return QString();
            octets.append(char(fort * 16 + faible));
            i += 2;
        } else if (c.unicode() < 0x80 && gardeTel(char(c.unicode()), i == 0)) {
            octets.append(char(c.unicode()));
        } else {
            return QString();
        }
    }
    const QString nom = QString::fromUtf8(octets);
    // One spelling per name: anything else was not written by nomFichier().
    return nomFichier(nom) == composant ? nom : QString();
}

QString dossierParDefaut(const QString &sauvegardes)
{
    return QDir::cleanPath(sauvegardes + QStringLiteral("/archive"));
}

QString nomEtat()
{
    return QStringLiteral("sauvegardes-archivees");
}

QString dossierHyperviseurs(const QString &archive)
{
    return archive + QStringLiteral("/hyperviseurs");
}

QString dossierHyperviseur(const QString &archive, const QString &hyperviseur)
{
    return dossierHyperviseurs(archive) + QLatin1Char('/') + nomFichier(hyperviseur);
}

QString cheminHyperviseur(const QString &archive, const QString &hyperviseur)
{
    return dossierHyperviseur(archive, hyperviseur) + QStringLiteral("/hyperviseur") + extension();
}

QString cheminVM(const QString &archive, const QString &hyperviseur, const QString &vm)
{
    return dossierHyperviseur(archive, hyperviseur) + QLatin1Char('/') + prefixeVM() + nomFichier(vm) + extension();
}

QString suffixeNom()
{
    return QStringLiteral(".nom");
}

QString extension()
{
    return QStringLiteral(".rrd");
}

QString prefixeVM()
{
    return QStringLiteral("vm-");
}

QString nomVM(const QString &nomFichierVM)
{
    if (!nomFichierVM.startsWith(prefixeVM()) || !nomFichierVM.endsWith(extension()))
        return QString();
    return nomDepuisFichier(nomFichierVM.mid(prefixeVM().size(),
                                             nomFichierVM.size() - prefixeVM().size() - extension().size()));
}

} // namespace FichierArchive
