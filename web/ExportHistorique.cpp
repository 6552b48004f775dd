// SPDX-License-Identifier: MIT
#include "ExportHistorique.h"

#include "ClesRapport.h"
#include "FichierArchive.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>

namespace {

const char *typeSource(SourceHistorique::Type type)
{
    switch (type) {
    case SourceHistorique::Archive: return "archive";
    case SourceHistorique::Fichiers: return "fichiers";
    case SourceHistorique::Journal: return "journal";
    }
    return "";
}

QJsonObject series(const SerieHistorique &serie, const QVector<ClesRapport::Cle> &cles)
{
    QJsonArray t;
    for (const qint64 temps : serie.temps)
        t.append(double(temps));
    QJsonObject objet{{QStringLiteral("t"), t}};
    for (int i = 0; i < cles.size() && i < serie.valeurs.size(); ++i) {
        QJsonArray valeurs;
        for (const double valeur : serie.valeurs.at(i))
            valeurs.append(std::isfinite(valeur) ? QJsonValue(valeur) : QJsonValue());
        objet.insert(cles.at(i).nom, valeurs);
    }
    return objet;
}

// The VM's state is a code: it has no chart and its average means nothing.
bool exportee(const ClesRapport::Cle &cle)
{
    return cle.unite != ClesRapport::Unite::EtatLibvirt;
}

} // namespace

QByteArray ExportHistorique::json(const Historique &historique)
{
    const DemandeHistorique &demande = historique.demande;
    QJsonArray sources;
    for (const SourceHistorique &source : historique.sources) {
        QJsonObject objet{{QStringLiteral("type"), QLatin1String(typeSource(source.type))},
                          {QStringLiteral("resolution"), double(source.resolution)},
                          {QStringLiteral("lignes"), double(source.lignes)}};
        if (source.type == SourceHistorique::Archive) {
            objet.insert(QStringLiteral("jusqua"), double(source.jusqua));
            objet.insert(QStringLiteral("palier"), double(source.palier));
        }
        sources.append(objet);
    }
    QJsonArray vms;
    for (const SerieHistorique &vm : historique.vms) {
        QJsonObject objet = series(vm, ClesRapport::mesuresVM());
        objet.insert(QStringLiteral("nom"), vm.nom);
        objet.insert(QStringLiteral("uuid"), vm.uuid);
        vms.append(objet);
    }
    QJsonObject resultat{{QStringLiteral("nom"), demande.hyperviseur},
                         {QStringLiteral("depuis"), double(demande.depuis)},
                         {QStringLiteral("jusqua"), double(demande.jusqua)},
                         {QStringLiteral("pas"), double(historique.pas)},
                         {QStringLiteral("fichiers"), historique.fichiers},
                         {QStringLiteral("illisibles"), historique.illisibles},
                         {QStringLiteral("segments"), historique.segments},
                         {QStringLiteral("sources"), sources},
                         {QStringLiteral("erreurs"), QJsonArray::fromStringList(historique.erreurs)},
                         {QStringLiteral("hyperviseur"), series(historique.hyperviseur, ClesRapport::mesuresHyperviseur())},
                         {QStringLiteral("vms"), vms}};
    if (!demande.vm.isNull())
        resultat.insert(QStringLiteral("vm"), demande.vm);
    return QJsonDocument(resultat).toJson(QJsonDocument::Compact);
}

QByteArray ExportHistorique::csv(const Historique &historique)
{
    const bool uneVM = !historique.demande.vm.isNull();
    const QVector<ClesRapport::Cle> &cles = uneVM ? ClesRapport::mesuresVM() : ClesRapport::mesuresHyperviseur();
    const SerieHistorique aucune;
    const SerieHistorique &serie = !uneVM ? historique.hyperviseur : historique.vms.isEmpty() ? aucune : historique.vms.first();

    QByteArray texte = champCsv(ClesRapport::temps);
    for (const ClesRapport::Cle &cle : cles) {
        if (exportee(cle))
            texte += ',' + champCsv(QStringLiteral("%1 (%2)").arg(cle.nom, ClesRapport::symbole(cle.unite)));
    }
    texte += "\r\n";
    for (int point = 0; point < serie.temps.size(); ++point) {
        texte += QDateTime::fromSecsSinceEpoch(serie.temps.at(point), Qt::UTC).toString(Qt::ISODate).toLatin1();
        for (int i = 0; i < cles.size(); ++i) {
            if (!exportee(cles.at(i)))
                continue;
            texte += ',';
            const double valeur = serie.valeurs.at(i).at(point);
            // As the JSON writes it, so that both give the same numbers.
            if (std::isfinite(valeur))
                texte += QByteArray::number(valeur, 'g', QLocale::FloatingPointShortest);
        }
        texte += "\r\n";
    }
    return texte;
}

QByteArray ExportHistorique::nomCsv(const Historique &historique)
{
    const DemandeHistorique &demande = historique.demande;
    const auto instant = [](qint64 t) {
        return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    };
    QString nom = QStringLiteral("historique_") + FichierArchive::nomFichier(demande.hyperviseur);
    if (!demande.vm.isNull())
        nom += QLatin1Char('_') + FichierArchive::nomFichier(demande.vm);
    nom += QLatin1Char('_') + instant(demande.depuis) + QLatin1Char('_') + instant(demande.jusqua) + QStringLiteral(".csv");
    return nom.toLatin1();
}

QByteArray ExportHistorique::champCsv(const QString &texte)
{
    QByteArray octets = texte.toUtf8();
    if (octets.contains(',') || octets.contains('"') || octets.contains('\n') || octets.contains('\r'))
        octets = '"' + octets.replace('"', "\"\"") + '"';
    return octets;
}
