// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDEAGENT_H
#define LIGNECOMMANDEAGENT_H

#include "Agent.h"
#include "AnalyseurOptions.h"

#include <QString>
#include <QStringList>

// The simulator's options, checked, and the collector's name resolved,
// before any socket is bound.
class LigneCommandeAgent
{
public:
    AnalyseurOptions::Resultat analyser(const QStringList &arguments);
    const ParametresAgent &parametres() const { return m_parametres; }
    // For Erreur, one line per invalid option; the help text for Aide.
    QString texte() const { return m_texte; }

private:
    bool resoudre(const QString &hote);

    ParametresAgent m_parametres;
    QString m_texte;
};

#endif
