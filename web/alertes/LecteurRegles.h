// SPDX-License-Identifier: MIT
#ifndef LECTEURREGLES_H
#define LECTEURREGLES_H

#include "JeuRegles.h"

#include <QByteArray>
#include <QString>

// Reads a rules file, one statement a line (see the README's "Alertes"):
//   regle NOM hyperviseur|vm MESURE >=|<= AVERTISSEMENT CRITIQUE [pour DUREE] [retour VALEUR]
//   desactiver NOM
//   maintenance MOTIF du AAAA-MM-JJ HH:MM au AAAA-MM-JJ HH:MM
//   maintenance MOTIF chaque JOUR HH:MM-HH:MM
// A rule named after a stock one replaces it; the stock rules stay on
// unless the file turns them off. All or nothing: on an error the set given
// is left as it was.
class LecteurRegles
{
public:
    // `erreur`: "ligne N : reason".
    static bool lire(const QByteArray &texte, JeuRegles &jeu, QString &erreur);
    // `erreur`: "FICHIER, ligne N : reason", or the file's own error.
    static bool lireFichier(const QString &chemin, JeuRegles &jeu, QString &erreur);
};

#endif
