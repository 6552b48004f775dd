// SPDX-License-Identifier: MIT
#include "FichierSauvegarde.h"

#include <QRegularExpression>

namespace FichierSauvegarde {

namespace {

const QString &prefixe()
{
    static const QString texte = QStringLiteral("collecteur");
    return texte;
}

const QString &formatHorodatage()
{
    static const QString texte = QStringLiteral("dd-MM-yyyy_hh-mm-ss");
    return texte;
}

const QString &extension()
{
    static const QString texte = QStringLiteral(".db");
    return texte;
}

} // namespace

QString nom(const QDateTime &instant)
{
    return prefixe() + instant.toString(formatHorodatage()) + extension();
}

QDateTime instant(const QString &nomFichier)
{
    static const QRegularExpression motif(
        QStringLiteral("^collecteur(\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d)\\.db$"));
    const QRegularExpressionMatch correspondance = motif.match(nomFichier);
    if (!correspondance.hasMatch())
        return QDateTime();
    return QDateTime::fromString(correspondance.captured(1), formatHorodatage());
}

bool estNom(const QString &nomFichier)
{
    return instant(nomFichier).isValid();
}

QString filtreNoms()
{
    return prefixe() + QStringLiteral("*") + extension();
}

QString suffixeEnCours()
{
    return QStringLiteral(".en-cours");
}

QString suffixeInterrompue()
{
    return QStringLiteral(".interrompue");
}

QString suffixeIllisible()
{
    return QStringLiteral(".illisible");
}

QString nomSegmentJournal(int numero)
{
    return QStringLiteral("collecteur-%1.journal").arg(numero);
}

QString nomSegmentAssigne(const QString &sauvegarde, int numero)
{
    return sauvegarde + QStringLiteral(".journal-%1").arg(numero);
}

QString motifSegmentJournal()
{
    return QStringLiteral("^collecteur-(\\d+)\\.journal$");
}

QString motifSegmentAssigne()
{
    return QStringLiteral("^(collecteur\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d\\.db)\\.journal-(\\d+)$");
}

QString filtreSegmentsJournal()
{
    return QStringLiteral("collecteur*.journal*");
}

QString filtreSegmentsAssignes(const QString &sauvegarde)
{
    return sauvegarde + QStringLiteral(".journal-*");
}

QString tableHyperviseurs()
{
    return QStringLiteral("InfosHyperviseurs");
}

QString tableVMs()
{
    return QStringLiteral("InfosVMs");
}

const QStringList &schema()
{
    static const QStringList instructions{
        QStringLiteral("CREATE TABLE IF NOT EXISTS InfosHyperviseurs (id        INTEGER, "
                       "name      VARCHAR(500)  NOT NULL, time      INTEGER       NOT NULL, "
                       "cputemp   FLOAT, mbtemp    FLOAT, cpu       FLOAT, ram       FLOAT, "
                       "disk      FLOAT, network   FLOAT, PRIMARY KEY(id))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS InfosVMs (id       INTEGER, "
                       "idinfos  INTEGER        NOT NULL, name     VARCHAR(500)   NOT NULL, "
                       "uuid     VARCHAR(50), state    SMALLINT, cpu      FLOAT, ram      INTEGER, "
                       "maxram   INTEGER, network  FLOAT, PRIMARY KEY(id), FOREIGN KEY(idinfos) "
                       "REFERENCES InfosHyperviseurs(id) ON DELETE CASCADE)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS InfosName  ON InfosHyperviseurs(name)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS InfosTime  ON InfosHyperviseurs(time)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS VMsIdinfos ON InfosVMs(idinfos)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS VMsName    ON InfosVMs(name)"),
    };
    return instructions;
}

} // namespace FichierSauvegarde
