// SPDX-License-Identifier: MIT
#ifndef HISTORIQUEALERTES_H
#define HISTORIQUEALERTES_H

#include "Alerte.h"

#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QVector>

// One spell of an alert away from ok: from its start to its end, at its
// worst severity.
struct EpisodeAlerte
{
    QString alertname;
    QString hyperviseur;
    QString vm;
    QString severity;
    qint64 debut = 0;
    qint64 fin = 0; // 0 while it lasts
    bool silence = false;

    QJsonObject json() const;
    static EpisodeAlerte lire(const QJsonObject &objet);
};

// The last 30 days of alerts. Each ended spell is appended as one JSON
// line to a file of the state directory, read back at start; the spells
// under way are kept with the rest of the state.
class HistoriqueAlertes
{
public:
    static constexpr qint64 duree = 30LL * 86400 * 1000;
    // The API gives at most this many, the newest.
    static constexpr int episodesDonnes = 10000;

    // Empty: kept in memory only.
    explicit HistoriqueAlertes(const QString &fichier = QString());

    // Reads the file back, keeping its last 30 days; a line it cannot read is skipped.
    bool charger(qint64 maintenant, QString &erreur);
    void noter(const Alerte &alerte, qint64 maintenant);

    QJsonArray enCours() const;
    void restaurer(const QJsonArray &enCours);
    // Ends the spells the evaluator no longer holds (a rule removed while stopped).
    void reconcilier(const QVector<Alerte> &actives, qint64 maintenant);
    QByteArray json(qint64 maintenant) const;
    int taille() const { return m_finis.size() + m_ouverts.size(); }

private:
    void oublierAnciens(qint64 maintenant);
    bool reecrire(QString &erreur) const;

    QString m_fichier;
    QHash<QString, EpisodeAlerte> m_ouverts;
    QVector<EpisodeAlerte> m_finis; // by end
    qint64 m_prochainTri = 0;
};

#endif
