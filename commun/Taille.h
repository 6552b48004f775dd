// SPDX-License-Identifier: MIT
#ifndef TAILLE_H
#define TAILLE_H

#include <QString>

// A size in bytes as operators write it on a command line: "536870912",
// "512M", "1.5G" (or "1,5G"), a unit K, M, G or T, each 1024 times the one
// before, optionally followed by "o", "io", "B" or "iB".
class Taille
{
public:
    // False when `texte` is not one, or is not a whole number of bytes from
    // 1 up to 2^62 once read; `octets` is then left alone.
    static bool lire(const QString &texte, qint64 &octets);
    // In the largest unit it reaches, at most one decimal: "512 Mio",
    // "1,5 Gio", "900 o".
    static QString texte(qint64 octets);
};

#endif
