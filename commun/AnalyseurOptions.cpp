// SPDX-License-Identifier: MIT
#include "AnalyseurOptions.h"

#include "Console.h"

#include <QLocale>

AnalyseurOptions::AnalyseurOptions(const QString &description)
{
    m_parseur.setApplicationDescription(description);
    m_parseur.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                           QStringLiteral("Affiche cette aide et s'arrête.")));
}

AnalyseurOptions::Resultat AnalyseurOptions::analyser(const QStringList &arguments)
{
    if (!m_parseur.parse(arguments)) {
        m_texte = m_parseur.errorText();
        return Erreur;
    }
    if (m_parseur.isSet(QStringLiteral("help"))) {
        m_texte = aide();
        return Aide;
    }
    if (!m_parseur.positionalArguments().isEmpty()) {
        m_texte = QStringLiteral("Argument inattendu : %1").arg(m_parseur.positionalArguments().constFirst());
        return Erreur;
    }
    return Executer;
}

QString AnalyseurOptions::aide() const
{
    // Qt writes its headings in English whatever the program's language.
    QString texte = m_parseur.helpText();
    texte.replace(QStringLiteral("Usage: "), QStringLiteral("Utilisation : "));
    texte.replace(QStringLiteral("\nOptions:\n"), QStringLiteral("\nOptions :\n"));
    return texte;
}

int AnalyseurOptions::terminer(Resultat resultat, const QString &texte)
{
    if (resultat == Aide) {
        Console::sortie(texte);
        Console::vider();
        return 0;
    }
    Console::erreur(texte);
    return 2;
}

bool AnalyseurOptions::refuser(const QString &option, const QString &valeur, const QString &attendu)
{
    m_texte = QStringLiteral("Valeur invalide pour --%1 : « %2 » (%3).").arg(option, valeur, attendu);
    return false;
}

bool AnalyseurOptions::entier(const QString &option, qint64 minimum, qint64 maximum, qint64 &valeur)
{
    if (!m_parseur.isSet(option))
        return true;
    bool ok = false;
    const qint64 lu = m_parseur.value(option).toLongLong(&ok);
    if (!ok || lu < minimum || lu > maximum)
        return refuser(option, m_parseur.value(option),
                       QStringLiteral("entier de %1 à %2 attendu").arg(minimum).arg(maximum));
    valeur = lu;
    return true;
}

bool AnalyseurOptions::reel(const QString &option, double minimum, double maximum, double &valeur)
{
    if (!m_parseur.isSet(option))
        return true;
    bool ok = false;
    const double lu = m_parseur.value(option).toDouble(&ok);
    if (!ok || !(lu >= minimum) || !(lu <= maximum)) {
        // Plain digits: "%1" would write a bound of 1e9 as 1e+09.
        const auto texte = [](double borne) { return QString::number(borne, 'f', QLocale::FloatingPointShortest); };
        return refuser(option, m_parseur.value(option),
                       QStringLiteral("nombre de %1 à %2 attendu").arg(texte(minimum), texte(maximum)));
    }
    valeur = lu;
    return true;
}

bool AnalyseurOptions::lireAdresse(const QString &valeur, QString &hote, quint16 &port)
{
    const int deuxPoints = valeur.lastIndexOf(QLatin1Char(':'));
    if (deuxPoints <= 0)
        return false;
    QString lu = valeur.left(deuxPoints);
    if (lu.startsWith(QLatin1Char('[')) && lu.endsWith(QLatin1Char(']')))
        lu = lu.mid(1, lu.size() - 2);
    else if (lu.contains(QLatin1Char(':')))
        return false;
    bool ok = false;
    const uint numero = valeur.mid(deuxPoints + 1).toUInt(&ok, 10);
    if (!ok || numero == 0 || numero > 65535 || lu.isEmpty())
        return false;
    hote = lu;
    port = quint16(numero);
    return true;
}

