// SPDX-License-Identifier: MIT
#ifndef ANALYSEUROPTIONS_H
#define ANALYSEUROPTIONS_H

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The command line of every program but the collector, whose own is fixed:
// Qt's parser, with a help in French laid out the same way everywhere, and
// one wording for every invalid value ("Valeur invalide pour --x : « v »
// (what was expected).").
class AnalyseurOptions
{
public:
    enum Resultat { Executer, Aide, Erreur };

    explicit AnalyseurOptions(const QString &description);

    void ajouter(const QList<QCommandLineOption> &options) { m_parseur.addOptions(options); }

    // Aide: texte() is the help, for standard output, exit status 0.
    // Erreur: texte() is one line, for standard error, exit status 2.
    Resultat analyser(const QStringList &arguments);
    QString texte() const { return m_texte; }
    // The help alone, for a program that reads its options itself.
    QString aide() const;

    bool estDonnee(const QString &option) const { return m_parseur.isSet(option); }
    QString valeur(const QString &option) const { return m_parseur.value(option); }
    QStringList valeurs(const QString &option) const { return m_parseur.values(option); }

    // Each reads the option when it is given and leaves `valeur` alone
    // otherwise; false, with texte() set, when what is given is invalid.
    bool entier(const QString &option, qint64 minimum, qint64 maximum, qint64 &valeur);
    bool reel(const QString &option, double minimum, double maximum, double &valeur);
    // HOTE:PORT, [IPv6]:PORT; port 1 to 65535.
    static bool lireAdresse(const QString &valeur, QString &hote, quint16 &port);

    // For Aide and Erreur, what the program does before it ends: writes
    // `texte` where it belongs and gives the exit status.
    static int terminer(Resultat resultat, const QString &texte);

    // Sets texte() to the line for an invalid value and returns false.
    bool refuser(const QString &option, const QString &valeur, const QString &attendu);

private:
    QCommandLineParser m_parseur;
    QString m_texte;
};

#endif
