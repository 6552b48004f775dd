// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDEWEB_H
#define LIGNECOMMANDEWEB_H

#include "ApplicationWeb.h"

#include <QStringList>

// collecteur-web's options, checked before anything starts.
class LigneCommandeWeb
{
public:
    enum Resultat { Valide, Aide, Invalide };

    static Resultat analyser(const QStringList &arguments, ParametresWeb &parametres, QString &message);
    // "HOTE:PORT", "[v6]:PORT".
    static bool lireAdresse(const QString &texte, QString &hote, quint16 &port);
};

#endif
