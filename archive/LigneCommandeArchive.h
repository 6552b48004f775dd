// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDEARCHIVE_H
#define LIGNECOMMANDEARCHIVE_H

#include "NettoyageSauvegardes.h"

#include <QString>
#include <QStringList>

struct ParametresArchive
{
    QString sauvegardes = QStringLiteral(".");
    QString archive; // <sauvegardes>/archive when not given
    NettoyageSauvegardes::Regles regles;
    bool uneFois = false;
};

// collecteur-archive's options, checked before anything starts.
class LigneCommandeArchive
{
public:
    enum Resultat { Valide, Aide, Invalide };

    // Aide: `message` is the help, for standard output. Invalide: one line
    // for standard error.
    static Resultat analyser(const QStringList &arguments, ParametresArchive &parametres, QString &message);
};

#endif
