// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDEAFFICHEUR_H
#define LIGNECOMMANDEAFFICHEUR_H

#include "Afficheur.h"
#include "AnalyseurOptions.h"

#include <QString>
#include <QStringList>

// The display client's options, checked before it connects.
class LigneCommandeAfficheur
{
public:
    AnalyseurOptions::Resultat analyser(const QStringList &arguments);
    const ParametresAfficheur &parametres() const { return m_parametres; }
    // The reason for Erreur, one line; the help text for Aide.
    QString texte() const { return m_texte; }

private:
    ParametresAfficheur m_parametres;
    QString m_texte;
};

#endif
