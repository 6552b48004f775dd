// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDESONDE_H
#define LIGNECOMMANDESONDE_H

#include "AnalyseurOptions.h"
#include "SignataireRapports.h"

#include <QString>
#include <QStringList>
#include <QVector>

struct AdresseCollecteur
{
    QString hote;
    quint16 port = 55000;
};

struct ParametresSonde
{
    double intervalle = 10;   // seconds between samples
    QVector<AdresseCollecteur> collecteurs;
    QString nom;              // the system's host name unless given
    bool uneFois = false;
    QString racine = QStringLiteral("/");
    QString disque;           // empty: the images folder if it exists, else /
    QString libvirt = QStringLiteral("qemu:///system");
    bool sansLibvirt() const { return libvirt == QLatin1String("aucun"); }
    // Inactive without --cle: the reports go unsigned.
    SignataireRapports signataire;
    QString fichierCle;
};

// The agent's options, checked before anything starts.
class LigneCommandeSonde
{
public:
    AnalyseurOptions::Resultat analyser(const QStringList &arguments);
    const ParametresSonde &parametres() const { return m_parametres; }
    // The reason for Erreur, one line; the help text for Aide.
    QString texte() const { return m_texte; }

private:
    ParametresSonde m_parametres;
    QString m_texte;
};

#endif
