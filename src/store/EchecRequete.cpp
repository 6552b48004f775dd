// SPDX-License-Identifier: MIT
#include "EchecRequete.h"

#include "Console.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QStringView>
#include <QVariant>

#include <algorithm>

bool EchecRequete::signaler(const QSqlQuery &requete)
{
    return signaler(requete, requete.lastQuery());
}

bool EchecRequete::signaler(const QSqlQuery &requete, const QString &texteAffiche)
{
    const QSqlError erreur = requete.lastError();
    if (erreur.type() == QSqlError::NoError)
        return false;
    Console::ecrire(tr("%1 : %2").arg(erreur.text(), avecValeurs(requete, texteAffiche)));
    return true;
}

void EchecRequete::executer(QSqlQuery &requete, const QString &texte)
{
    requete.exec(texte);
    signaler(requete);
}

QString EchecRequete::avecValeurs(const QSqlQuery &requete, const QString &texte)
{
    // A statement run without bound values (an ATTACH of a file name, say)
    // is shown exactly as it was sent.
    if (requete.boundValues().isEmpty())
        return texte;

    // Qt 6 no longer hands the bound values out by name, so the names are
    // read from the statement, in ascending order as a map of names would
    // hold them.
    static const QRegularExpression marque(QStringLiteral(":[A-Za-z0-9_]+"));
    QStringList noms;
    QRegularExpressionMatchIterator correspondances = marque.globalMatch(texte);
    while (correspondances.hasNext())
        noms << correspondances.next().captured();
    std::sort(noms.begin(), noms.end());
    noms.erase(std::unique(noms.begin(), noms.end()), noms.end());

    // One pass over the statement as sent: a value is written once and
    // never searched again, so that values holding placeholder names can
    // neither disguise the statement nor make the line grow exponentially.
    // Where two names begin alike the lower one is taken, as if the names
    // were replaced one after the other.
    const QStringView envoye(texte);
    QString affiche;
    for (qsizetype i = 0; i < envoye.size();) {
        const QString *trouve = nullptr;
        if (envoye.at(i) == QLatin1Char(':')) {
            for (const QString &nom : qAsConst(noms)) {
                if (envoye.mid(i).startsWith(nom)) {
                    trouve = &nom;
                    break;
                }
            }
        }
        if (trouve) {
            affiche += requete.boundValue(*trouve).toString();
            i += trouve->size();
        } else {
            affiche += envoye.at(i++);
        }
    }
    return affiche;
}
