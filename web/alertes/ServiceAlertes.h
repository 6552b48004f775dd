// SPDX-License-Identifier: MIT
#ifndef SERVICEALERTES_H
#define SERVICEALERTES_H

#include "EvaluateurAlertes.h"
#include "HistoriqueAlertes.h"
#include "Notificateur.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

struct ParametresAlertes
{
    // Empty: the stock rules alone.
    QString regles;
    // Empty: nothing kept across a restart.
    QString etat;
    QStringList alertmanagers;
    QStringList webhooks;
    QStringList courriels;
    QString sendmail = QStringLiteral("/usr/sbin/sendmail");
    // Where receivers' links lead: the dashboard as people reach it; empty:
    // the address it listens on.
    QString urlExterne;
};

// The alerting of the dashboard: the rules judged on each report and each
// second, their notifications, their history, and what of them is kept in
// the state directory so that a restart takes up where it stopped.
class ServiceAlertes : public QObject
{
    Q_OBJECT

public:
    static constexpr int periodeEvaluation = 1000;
    static constexpr const char *fichierEtat = "alertes.json";
    static constexpr const char *fichierHistorique = "historique-alertes.jsonl";

    ServiceAlertes(const ParametresAlertes &parametres, EvaluateurAlertes::Horloge horloge, QObject *parent = nullptr);

    // Reads the rules file; `resume` says what it holds.
    bool lireRegles(QString &resume, QString &erreur);
    // Sets up the receivers, takes up the kept state and starts judging;
    // false when the state directory cannot be written.
    bool demarrer(const QString &urlParDefaut, QString &erreur);
    void arreter();

    void recevoir(const RapportHyperviseur &rapport, qint64 intervalle);
    EvaluateurAlertes &evaluateur() { return m_evaluateur; }
    Notificateur &notificateur() { return m_notificateur; }

    QByteArray json() const;
    QByteArray historique() const;
    QByteArray metriques() const;
    // One line naming the receivers and the state directory.
    QString resume() const;

public slots:
    // Reads the rules file again; a bad one leaves the rules in force.
    void recharger();

signals:
    void alertesChangees();

private:
    void changement(const Alerte &alerte);
    bool chargerEtat(QString &erreur);
    bool ecrireEtat(QString &erreur);
    void sauverEtat();

    ParametresAlertes m_parametres;
    EvaluateurAlertes::Horloge m_horloge;
    EvaluateurAlertes m_evaluateur;
    Notificateur m_notificateur;
    HistoriqueAlertes m_historique;
    QTimer m_evaluation;
    QTimer m_sauvegarde;
    bool m_sauvegardeEnEchec = false;
};

#endif
