// SPDX-License-Identifier: MIT
#ifndef NOTIFICATEUR_H
#define NOTIFICATEUR_H

#include "Destinataire.h"
#include "NotificationAlerte.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>

// Turns the evaluator's changes into notifications: an alert is told once
// when it fires (not while silenced), again only when its severity changes,
// and once when it ends. What was told is kept, so that a restart neither
// fires again nor forgets to resolve.
class Notificateur : public QObject
{
    Q_OBJECT

public:
    using Horloge = std::function<qint64()>;
    // Alertmanager forgets an alert it is not reminded of.
    static constexpr int periodeRappel = 60000;

    explicit Notificateur(Horloge horloge, QObject *parent = nullptr);

    // Takes ownership.
    void ajouter(Destinataire *destinataire);
    const QVector<Destinataire *> &destinataires() const { return m_destinataires; }
    QVector<NotificationAlerte> enCours() const;

    QJsonObject etat() const;
    void restaurer(const QJsonObject &etat);
    // Resolves what was told and the evaluator no longer holds (a rule
    // removed while the program was stopped).
    void reconcilier(const QVector<Alerte> &actives);
    void demarrer() { m_rappel.start(periodeRappel); }
    void arreter() { m_rappel.stop(); }

    // The counters of /metrics, per receiver.
    QByteArray metriques() const;

public slots:
    void changement(const Alerte &alerte);
    void rappeler();

signals:
    void modifie();

private:
    void envoyer(const QVector<NotificationAlerte> &lot);

    Horloge m_horloge;
    QVector<Destinataire *> m_destinataires;
    QHash<QString, NotificationAlerte> m_enCours;
    QTimer m_rappel;
};

#endif
