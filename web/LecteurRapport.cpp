// SPDX-License-Identifier: MIT
#include "LecteurRapport.h"

#include "LectureJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace {

double nombre(const QJsonObject &objet, QLatin1String cle)
{
    const QJsonValue valeur = objet.value(cle);
    if (!valeur.isDouble())
        return valeurAbsente;
    const double x = valeur.toDouble();
    return std::isfinite(x) ? x : valeurAbsente;
}

QString texte(const QJsonObject &objet, QLatin1String cle)
{
    const QJsonValue valeur = objet.value(cle);
    return valeur.isString() ? valeur.toString() : QString();
}

} // namespace

bool LecteurRapport::decoder(const QString &texteRapport, RapportHyperviseur &rapport, QString *erreur)
{
    const auto echec = [erreur](const QString &raison) {
        if (erreur)
            *erreur = raison;
        return false;
    };

    QJsonParseError analyse;
    const QJsonDocument document = LectureJson::lireRapport(texteRapport, &analyse);
    if (analyse.error != QJsonParseError::NoError)
        return echec(QStringLiteral("JSON illisible (%1)").arg(analyse.errorString()));
    if (!document.isObject())
        return echec(QStringLiteral("le rapport n'est pas un objet JSON"));

    const QJsonObject objet = document.object();
    rapport = RapportHyperviseur();
    rapport.nom = texte(objet, ClesRapport::nom);
    if (rapport.nom.isEmpty())
        return echec(QStringLiteral("le rapport ne nomme pas son hyperviseur"));
    rapport.time = nombre(objet, ClesRapport::temps);
    for (const auto &champ : champsHyperviseur)
        rapport.*champ.valeur = nombre(objet, champ.cle);

    const QJsonArray vms = objet.value(ClesRapport::vms).toArray();
    rapport.vms.reserve(qMin(int(vms.size()), vmsMaximum));
    for (const QJsonValue &valeur : vms) {
        if (!valeur.isObject())
            continue;
        if (rapport.vms.size() >= vmsMaximum) {
            ++rapport.vmsIgnorees;
            continue;
        }
        const QJsonObject vm = valeur.toObject();
        RapportVM lue;
        lue.nom = texte(vm, ClesRapport::nom);
        lue.uuid = texte(vm, ClesRapport::uuid);
        const double etat = nombre(vm, ClesRapport::etat);
        if (etat >= 0 && etat <= 7 && etat == std::floor(etat))
            lue.etat = int(etat);
        for (const auto &champ : champsVM)
            lue.*champ.valeur = nombre(vm, champ.cle);
        rapport.vms.append(lue);
    }
    return true;
}
