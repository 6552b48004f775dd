// SPDX-License-Identifier: MIT
#ifndef FICHIERCLES_H
#define FICHIERCLES_H

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

// The report keys file: one line per host, "NOM CLE", CLE being 32 random
// bytes or more in base64; "#" starts a comment. A host has at most two
// keys (two lines), so that a key can be replaced without a gap. The
// collector holds every host's; an agent its own line.
namespace FichierCles {

constexpr int clesParHote = 2;

using Cles = QHash<QString, QVector<QByteArray>>;

// False with `erreur` ("FICHIER, ligne N : …" or "FICHIER : …"); a file
// others may read, or anyone but its owner and group may write, is refused.
bool lire(const QString &chemin, Cles &cles, QString &erreur);
bool lireTexte(const QByteArray &texte, Cles &cles, QString &erreur);

// A fresh line for `nom`, from the system's random source.
QString nouvelleLigne(const QString &nom);

} // namespace FichierCles

#endif
