// SPDX-License-Identifier: MIT
#include "HistoriqueAlertes.h"

#include "Console.h"
#include "NotificationAlerte.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <tuple>

namespace {

int rang(const QString &severity)
{
    return severity == QLatin1String("critique")        ? 3
           : severity == QLatin1String("avertissement") ? 2
           : severity == QLatin1String("inconnu")       ? 1
                                                        : 0;
}

} // namespace

QJsonObject EpisodeAlerte::json() const
{
    return QJsonObject{{QStringLiteral("alertname"), alertname},
                       {QStringLiteral("severity"), severity},
                       {QStringLiteral("hyperviseur"), hyperviseur},
                       {QStringLiteral("vm"), vm},
                       {QStringLiteral("debut"), double(debut)},
                       {QStringLiteral("fin"), fin > 0 ? QJsonValue(double(fin)) : QJsonValue()},
                       {QStringLiteral("silence"), silence}};
}

EpisodeAlerte EpisodeAlerte::lire(const QJsonObject &objet)
{
    EpisodeAlerte e;
    e.alertname = objet.value(QStringLiteral("alertname")).toString();
    e.severity = objet.value(QStringLiteral("severity")).toString();
    e.hyperviseur = objet.value(QStringLiteral("hyperviseur")).toString();
    e.vm = objet.value(QStringLiteral("vm")).toString();
    e.debut = qint64(objet.value(QStringLiteral("debut")).toDouble());
    e.fin = qint64(objet.value(QStringLiteral("fin")).toDouble());
    e.silence = objet.value(QStringLiteral("silence")).toBool();
    return e;
}

HistoriqueAlertes::HistoriqueAlertes(const QString &fichier)
    : m_fichier(fichier)
{
}

bool HistoriqueAlertes::charger(qint64 maintenant, QString &erreur)
{
    if (m_fichier.isEmpty())
        return true;
    QFile fichier(m_fichier);
    if (!fichier.exists())
        return true;
    if (!fichier.open(QIODevice::ReadOnly)) {
        erreur = QStringLiteral("%1 : %2").arg(m_fichier, fichier.errorString());
        return false;
    }
    while (!fichier.atEnd()) {
        const QJsonObject objet = QJsonDocument::fromJson(fichier.readLine()).object();
        const EpisodeAlerte e = EpisodeAlerte::lire(objet);
        // A line cut by a crash mid-write is lost alone.
        if (!e.alertname.isEmpty() && e.fin > 0)
            m_finis.append(e);
    }
    std::stable_sort(m_finis.begin(), m_finis.end(), [](const EpisodeAlerte &a, const EpisodeAlerte &b) { return a.fin < b.fin; });
    oublierAnciens(maintenant);
    m_prochainTri = maintenant + 86400 * 1000;
    return reecrire(erreur);
}

void HistoriqueAlertes::noter(const Alerte &alerte, qint64 maintenant)
{
    const QString cle = NotificationAlerte::cle(alerte);
    auto ouvert = m_ouverts.find(cle);
    if (alerte.etat != EtatAlerte::Ok) {
        if (ouvert == m_ouverts.end()) {
            EpisodeAlerte e;
            e.alertname = alerte.alertname;
            e.hyperviseur = alerte.hyperviseur;
            e.vm = alerte.vm;
            e.debut = alerte.depuis;
            ouvert = m_ouverts.insert(cle, e);
        }
        if (rang(alerte.severity()) > rang(ouvert->severity))
            ouvert->severity = alerte.severity();
        ouvert->silence = ouvert->silence || alerte.silence;
        return;
    }
    if (ouvert == m_ouverts.end())
        return;
    EpisodeAlerte fin = *ouvert;
    m_ouverts.erase(ouvert);
    fin.fin = qMax(alerte.depuis, fin.debut);
    m_finis.append(fin);
    oublierAnciens(maintenant);
    if (m_fichier.isEmpty())
        return;
    // The file is cut down to its last 30 days once a day; between, ends are appended.
    if (maintenant >= m_prochainTri) {
        m_prochainTri = maintenant + 86400 * 1000;
        QString erreur;
        if (!reecrire(erreur))
            Console::erreur(QStringLiteral("Historique des alertes non réécrit : %1.").arg(erreur));
        return;
    }
    QFile fichier(m_fichier);
    if (!fichier.open(QIODevice::WriteOnly | QIODevice::Append)
        || fichier.write(QJsonDocument(fin.json()).toJson(QJsonDocument::Compact) + '\n') < 0)
        Console::erreur(QStringLiteral("Historique des alertes non écrit dans %1 : %2.").arg(m_fichier, fichier.errorString()));
}

void HistoriqueAlertes::oublierAnciens(qint64 maintenant)
{
    const auto recent = std::find_if(m_finis.begin(), m_finis.end(),
                                     [limite = maintenant - duree](const EpisodeAlerte &e) { return e.fin >= limite; });
    m_finis.erase(m_finis.begin(), recent);
}

bool HistoriqueAlertes::reecrire(QString &erreur) const
{
    if (m_fichier.isEmpty())
        return true;
    QSaveFile fichier(m_fichier);
    if (fichier.open(QIODevice::WriteOnly)) {
        for (const EpisodeAlerte &e : m_finis)
            fichier.write(QJsonDocument(e.json()).toJson(QJsonDocument::Compact) + '\n');
        if (fichier.commit())
            return true;
    }
    erreur = QStringLiteral("%1 : %2").arg(m_fichier, fichier.errorString());
    return false;
}

QJsonArray HistoriqueAlertes::enCours() const
{
    QJsonArray liste;
    for (const EpisodeAlerte &e : m_ouverts)
        liste.append(e.json());
    return liste;
}

void HistoriqueAlertes::restaurer(const QJsonArray &enCours)
{
    for (const QJsonValue &valeur : enCours) {
        EpisodeAlerte e = EpisodeAlerte::lire(valeur.toObject());
        e.fin = 0;
        Alerte cle;
        cle.alertname = e.alertname;
        cle.hyperviseur = e.hyperviseur;
        cle.vm = e.vm;
        m_ouverts.insert(NotificationAlerte::cle(cle), e);
    }
}

void HistoriqueAlertes::reconcilier(const QVector<Alerte> &actives, qint64 maintenant)
{
    QSet<QString> tenues;
    for (const Alerte &a : actives)
        tenues.insert(NotificationAlerte::cle(a));
    const QStringList ouverts = m_ouverts.keys();
    for (const QString &cle : ouverts) {
        if (tenues.contains(cle))
            continue;
        Alerte fin;
        fin.alertname = m_ouverts.value(cle).alertname;
        fin.hyperviseur = m_ouverts.value(cle).hyperviseur;
        fin.vm = m_ouverts.value(cle).vm;
        fin.depuis = maintenant;
        noter(fin, maintenant);
    }
}

QByteArray HistoriqueAlertes::json(qint64 maintenant) const
{
    QVector<const EpisodeAlerte *> tous;
    for (const EpisodeAlerte &e : m_ouverts)
        tous.append(&e);
    for (const EpisodeAlerte &e : m_finis) {
        if (e.fin >= maintenant - duree)
            tous.append(&e);
    }
    std::sort(tous.begin(), tous.end(), [](const EpisodeAlerte *a, const EpisodeAlerte *b) {
        return std::make_tuple(a->debut, a->fin == 0, a->fin) > std::make_tuple(b->debut, b->fin == 0, b->fin);
    });
    QJsonArray liste;
    for (int i = 0; i < tous.size() && i < episodesDonnes; ++i)
        liste.append(tous.at(i)->json());
    return QJsonDocument(QJsonObject{{QStringLiteral("maintenant"), double(maintenant)},
                                     {QStringLiteral("jours"), int(duree / 86400000)},
                                     {QStringLiteral("episodes"), liste}})
        .toJson(QJsonDocument::Compact);
}
