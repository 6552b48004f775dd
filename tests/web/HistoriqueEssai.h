// SPDX-License-Identifier: MIT
#ifndef HISTORIQUEESSAI_H
#define HISTORIQUEESSAI_H

#include "ClesRapport.h"
#include "ExportHistorique.h"
#include "Historique.h"
#include "SauvegardeEssai.h"
#include "SegmentJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>
#include <functional>

// A fleet of one host whose every measure is known at every minute, so that
// a test can average the rows it wrote over any span; its reports written
// as backup rows or as journal records.
namespace HistoriqueEssai {

constexpr qint64 minute = 60;

// In the order of ClesRapport::mesuresHyperviseur(): cputemp, mbtemp, cpu, ram, disk, network.
inline QVector<double> hote(qint64 t)
{
    const qint64 x = t / minute;
    return {double(30 + x % 50), x % 10 == 0 ? qQNaN() : 25 + double(x % 7) * 0.5, double(x % 101) * 0.5,
            double((x * 7) % 89) + 0.25, double(40 + x % 13), double((x * 3) % 1000) / 8};
}

// In the order of ClesRapport::mesuresVM(): state, cpu, ram, maxram, network.
inline QVector<double> vm(int numero, qint64 t)
{
    const qint64 x = t / minute;
    return {1, double((x * (3 + numero)) % 100), double(1024 * (1 + (x + numero) % 4)), 4096,
            double((x + numero) % 9) * 0.125};
}

// The backup file's argument order (SauvegardeEssai's): cpu, ram, disk, network, cputemp, mbtemp.
inline QVector<double> colonnesHote(qint64 t)
{
    const QVector<double> v = hote(t);
    return {v[2], v[3], v[4], v[5], v[0], v[1]};
}

// cpu, ram, maxram, network.
inline QVector<double> colonnesVM(int numero, qint64 t)
{
    return vm(numero, t).mid(1);
}

// One row a minute in (debut, fin], with its VMs.
inline bool ecrireSauvegarde(const QString &chemin, const QString &nom, const QStringList &vms, qint64 debut, qint64 fin)
{
    SauvegardeEssai fichier(chemin);
    for (qint64 t = (debut / minute + 1) * minute; t <= fin; t += minute) {
        const qint64 id = fichier.hyperviseur(nom, t, colonnesHote(t));
        for (int i = 0; i < vms.size(); ++i)
            fichier.vm(id, vms.at(i), colonnesVM(i + 1, t));
    }
    return fichier.fermer();
}

inline QByteArray nombre(double valeur)
{
    return QByteArray::number(valeur, 'g', QLocale::FloatingPointShortest);
}

// The report an agent would have sent at `t`; an unknown value is left out.
inline QByteArray rapport(const QString &nom, const QStringList &vms, qint64 t)
{
    QJsonObject objet{{ClesRapport::nom, nom}, {ClesRapport::temps, double(t)}};
    const QVector<double> valeurs = hote(t);
    for (int i = 0; i < valeurs.size(); ++i) {
        if (std::isfinite(valeurs.at(i)))
            objet.insert(ClesRapport::mesuresHyperviseur().at(i).nom, valeurs.at(i));
    }
    QJsonArray liste;
    for (int n = 0; n < vms.size(); ++n) {
        QJsonObject v{{ClesRapport::nom, vms.at(n)}, {ClesRapport::uuid, QStringLiteral("u-%1").arg(n + 1)}};
        const QVector<double> mesures = vm(n + 1, t);
        for (int i = 0; i < mesures.size(); ++i)
            v.insert(ClesRapport::mesuresVM().at(i).nom, mesures.at(i));
        liste.append(v);
    }
    objet.insert(ClesRapport::vms, liste);
    return QJsonDocument(objet).toJson(QJsonDocument::Compact);
}

// A journal segment of the reports a minute apart in (debut, fin]; `coupe`
// leaves a last record torn, as a crash mid-write does.
inline bool ecrireSegment(const QString &chemin, const QString &nom, const QStringList &vms, qint64 debut, qint64 fin,
                          bool coupe = false)
{
    QByteArray octets = SegmentJournal::entete();
    for (qint64 t = (debut / minute + 1) * minute; t <= fin; t += minute) {
        const QByteArray texte = rapport(nom, vms, t);
        SegmentJournal::ajouter(octets, texte.constData(), texte.size());
    }
    if (coupe) {
        const QByteArray texte = rapport(nom, vms, fin + minute);
        SegmentJournal::ajouter(octets, texte.constData(), texte.size());
        octets.chop(5);
    }
    QFile fichier(chemin);
    return fichier.open(QIODevice::WriteOnly) && fichier.write(octets) == octets.size();
}

// The average of a measure over the minutes in (debut, fin] where it is known.
inline double moyenne(const std::function<double(qint64)> &mesure, qint64 debut, qint64 fin)
{
    double somme = 0;
    int n = 0;
    for (qint64 t = (debut / minute + 1) * minute; t <= fin; t += minute) {
        const double v = mesure(t);
        if (std::isfinite(v)) {
            somme += v;
            ++n;
        }
    }
    return n > 0 ? somme / n : qQNaN();
}

inline QJsonObject lire(const DemandeHistorique &demande)
{
    return QJsonDocument::fromJson(ExportHistorique::json(Historique::lire(demande))).object();
}

// Every file under `dossier`: its path, time of change and contents.
inline QByteArray empreinte(const QString &dossier)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QStringList chemins;
    QDirIterator it(dossier, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        chemins.append(it.next());
    chemins.sort();
    for (const QString &chemin : chemins) {
        const QFileInfo info(chemin);
        hash.addData(chemin.toUtf8());
        hash.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
        QFile fichier(chemin);
        if (info.isFile() && fichier.open(QIODevice::ReadOnly))
            hash.addData(fichier.readAll());
    }
    return hash.result();
}

} // namespace HistoriqueEssai

#endif
