// SPDX-License-Identifier: MIT
#ifndef DUREE_H
#define DUREE_H

#include <QString>

// A duration as operators write it on a command line: a whole number and
// its unit, "8j", "36h", "90m", "600s".
class Duree
{
public:
    // False when `texte` is not one; `secondes` is then left alone.
    static bool lire(const QString &texte, qint64 &secondes);
    // In the largest unit that divides it: "8 j", "36 h", "90 min", "600 s".
    static QString texte(qint64 secondes);
};

#endif
