// SPDX-License-Identifier: MIT
#include "LecteurRegles.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Thrown with the reason, caught once per line.
struct Refus
{
    QString raison;
};

[[noreturn]] void refuser(const QString &raison)
{
    throw Refus{raison};
}

double nombre(const QString &mot)
{
    if (mot == QLatin1String("-"))
        return Regle::aucun;
    bool lu = false;
    const double valeur = mot.toDouble(&lu);
    if (!lu || !std::isfinite(valeur))
        refuser(QStringLiteral("nombre ou « - » attendu au lieu de « %1 »").arg(mot));
    return valeur;
}

qint64 duree(const QString &mot)
{
    static const QRegularExpression forme(QStringLiteral("^(\\d{1,6})(s|m|h)?$"));
    const QRegularExpressionMatch trouvee = forme.match(mot);
    if (!trouvee.hasMatch())
        refuser(QStringLiteral("durée attendue (30s, 10m, 2h) au lieu de « %1 »").arg(mot));
    const QString unite = trouvee.captured(2);
    const qint64 facteur = unite == QLatin1String("h") ? 3600000 : unite == QLatin1String("m") ? 60000 : 1000;
    return trouvee.captured(1).toLongLong() * facteur;
}

int heure(const QString &mot)
{
    const QTime temps = QTime::fromString(mot, QStringLiteral("HH:mm"));
    if (!temps.isValid())
        refuser(QStringLiteral("heure HH:MM attendue au lieu de « %1 »").arg(mot));
    return temps.hour() * 60 + temps.minute();
}

qint64 instant(const QString &date, const QString &temps)
{
    const QDateTime lu = QDateTime::fromString(date + QLatin1Char(' ') + temps, QStringLiteral("yyyy-MM-dd HH:mm"));
    if (!lu.isValid())
        refuser(QStringLiteral("date AAAA-MM-JJ HH:MM attendue au lieu de « %1 %2 »").arg(date, temps));
    return lu.toMSecsSinceEpoch();
}

void regle(const QStringList &mots, JeuRegles &jeu)
{
    if (mots.size() < 7)
        refuser(QStringLiteral("attendu : regle NOM hyperviseur|vm MESURE >=|<= AVERTISSEMENT CRITIQUE [pour DUREE] [retour VALEUR]"));
    Regle lue;
    lue.nom = mots.at(1);
    if (Regle::estSpeciale(lue.nom))
        refuser(QStringLiteral("« %1 » est une règle spéciale : seul « desactiver %1 » s'y applique").arg(lue.nom));
    if (mots.at(2) == QLatin1String("hyperviseur"))
        lue.type = TypeRegle::MesureHyperviseur;
    else if (mots.at(2) == QLatin1String("vm"))
        lue.type = TypeRegle::MesureVm;
    else
        refuser(QStringLiteral("« hyperviseur » ou « vm » attendu au lieu de « %1 »").arg(mots.at(2)));
    lue.mesure = mots.at(3);
    if (!Regle::mesureConnue(lue.type, lue.mesure))
        refuser(QStringLiteral("mesure inconnue « %1 »").arg(lue.mesure));
    if (mots.at(4) != QLatin1String(">=") && mots.at(4) != QLatin1String("<="))
        refuser(QStringLiteral("« >= » ou « <= » attendu au lieu de « %1 »").arg(mots.at(4)));
    lue.sens = mots.at(4) == QLatin1String(">=") ? 1 : -1;
    lue.avertissement = nombre(mots.at(5));
    lue.critique = nombre(mots.at(6));
    if (!std::isfinite(lue.avertissement) && !std::isfinite(lue.critique))
        refuser(QStringLiteral("un seuil au moins est attendu"));
    if (std::isfinite(lue.avertissement) && std::isfinite(lue.critique) && lue.sens * (lue.critique - lue.avertissement) < 0)
        refuser(QStringLiteral("le seuil critique doit être au-delà de l'avertissement"));
    for (int i = 7; i < mots.size(); i += 2) {
        if (i + 1 >= mots.size())
            refuser(QStringLiteral("valeur attendue après « %1 »").arg(mots.at(i)));
        if (mots.at(i) == QLatin1String("pour"))
            lue.pour = duree(mots.at(i + 1));
        else if (mots.at(i) == QLatin1String("retour"))
            lue.retour = nombre(mots.at(i + 1));
        else
            refuser(QStringLiteral("« pour » ou « retour » attendu au lieu de « %1 »").arg(mots.at(i)));
    }
    const double premier = std::isfinite(lue.avertissement) ? lue.avertissement : lue.critique;
    if (std::isfinite(lue.retour) && lue.sens * (premier - lue.retour) <= 0)
        refuser(QStringLiteral("la valeur de retour doit être en deçà du seuil"));
    const auto existante = std::find_if(jeu.regles.begin(), jeu.regles.end(),
                                        [&lue](const Regle &r) { return r.nom == lue.nom; });
    if (existante != jeu.regles.end())
        *existante = lue;
    else
        jeu.regles.append(lue);
}

void desactiver(const QStringList &mots, JeuRegles &jeu)
{
    if (mots.size() != 2)
        refuser(QStringLiteral("attendu : desactiver NOM"));
    const auto trouvee = std::find_if(jeu.regles.begin(), jeu.regles.end(),
                                      [&mots](const Regle &r) { return r.nom == mots.at(1); });
    if (trouvee == jeu.regles.end())
        refuser(QStringLiteral("règle inconnue « %1 »").arg(mots.at(1)));
    trouvee->active = false;
}

void maintenance(const QStringList &mots, JeuRegles &jeu)
{
    if (mots.size() == 8 && mots.at(2) == QLatin1String("du") && mots.at(5) == QLatin1String("au")) {
        const qint64 debut = instant(mots.at(3), mots.at(4));
        const qint64 fin = instant(mots.at(6), mots.at(7));
        if (fin <= debut)
            refuser(QStringLiteral("la fin doit suivre le début"));
        jeu.maintenances.append(FenetreMaintenance::entre(mots.at(1), debut, fin));
        return;
    }
    if (mots.size() == 5 && mots.at(2) == QLatin1String("chaque")) {
        static const QStringList jours{QStringLiteral("jour"),     QStringLiteral("lundi"),  QStringLiteral("mardi"),
                                       QStringLiteral("mercredi"), QStringLiteral("jeudi"),  QStringLiteral("vendredi"),
                                       QStringLiteral("samedi"),   QStringLiteral("dimanche")};
        const int jour = int(jours.indexOf(mots.at(3)));
        if (jour < 0)
            refuser(QStringLiteral("jour de la semaine ou « jour » attendu au lieu de « %1 »").arg(mots.at(3)));
        const QStringList heures = mots.at(4).split(QLatin1Char('-'));
        if (heures.size() != 2)
            refuser(QStringLiteral("HH:MM-HH:MM attendu au lieu de « %1 »").arg(mots.at(4)));
        jeu.maintenances.append(FenetreMaintenance::hebdomadaire(mots.at(1), jour, heure(heures.at(0)), heure(heures.at(1))));
        return;
    }
    refuser(QStringLiteral("attendu : maintenance MOTIF du AAAA-MM-JJ HH:MM au AAAA-MM-JJ HH:MM, "
                           "ou maintenance MOTIF chaque JOUR HH:MM-HH:MM"));
}

} // namespace

bool LecteurRegles::lire(const QByteArray &texte, JeuRegles &jeu, QString &erreur)
{
    static const QRegularExpression blancs(QStringLiteral("\\s+"));
    JeuRegles lu;
    const QList<QByteArray> lignes = texte.split('\n');
    for (int numero = 0; numero < lignes.size(); ++numero) {
        QString ligne = QString::fromUtf8(lignes.at(numero));
        const int diese = int(ligne.indexOf(QLatin1Char('#')));
        if (diese >= 0)
            ligne.truncate(diese);
        const QStringList mots = ligne.split(blancs, Qt::SkipEmptyParts);
        if (mots.isEmpty())
            continue;
        try {
            if (mots.first() == QLatin1String("regle"))
                regle(mots, lu);
            else if (mots.first() == QLatin1String("desactiver"))
                desactiver(mots, lu);
            else if (mots.first() == QLatin1String("maintenance"))
                maintenance(mots, lu);
            else
                refuser(QStringLiteral("« regle », « desactiver » ou « maintenance » attendu au lieu de « %1 »").arg(mots.first()));
        } catch (const Refus &refus) {
            erreur = QStringLiteral("ligne %1 : %2").arg(numero + 1).arg(refus.raison);
            return false;
        }
    }
    jeu = lu;
    return true;
}

bool LecteurRegles::lireFichier(const QString &chemin, JeuRegles &jeu, QString &erreur)
{
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::ReadOnly)) {
        erreur = QStringLiteral("%1 : %2").arg(chemin, fichier.errorString());
        return false;
    }
    if (lire(fichier.readAll(), jeu, erreur))
        return true;
    erreur = QStringLiteral("%1, %2").arg(chemin, erreur);
    return false;
}
