// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDEWEB_H
#define LIGNECOMMANDEWEB_H

#include "AnalyseurOptions.h"
#include "ApplicationWeb.h"

#include <QStringList>

// collecteur-web's options, checked before anything starts.
class LigneCommandeWeb
{
public:
    // Aide: `message` is the help, for standard output; Erreur: one line,
    // for standard error.
    static AnalyseurOptions::Resultat analyser(const QStringList &arguments, ParametresWeb &parametres, QString &message);
};

#endif
