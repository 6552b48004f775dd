// SPDX-License-Identifier: MIT
#ifndef EVALUATEURALERTES_H
#define EVALUATEURALERTES_H

#include "Alerte.h"
#include "JeuRegles.h"
#include "LecteurRapport.h"
#include "SuiviAlerte.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>

// Judges each hypervisor and its VMs against the rules in force, on each of
// its reports and whenever evaluer() is called (so that a silent host and a
// condition's duration are seen without a report), and tells each change.
// The clock is injected: ms since the epoch.
class EvaluateurAlertes : public QObject
{
    Q_OBJECT

public:
    using Horloge = std::function<qint64()>;

    // A host is silent after this many of its usual intervals, and never sooner than minimum.
    static constexpr int intervallesManques = 3;
    static constexpr qint64 silenceMinimum = 30000;
    // libvirt's domain states.
    static constexpr int vmEnMarche = 1;
    static constexpr int vmArretee = 5;
    static constexpr int vmPlantee = 6;

    explicit EvaluateurAlertes(Horloge horloge, QObject *parent = nullptr);

    // Keeps the state of the rules it still holds; the others end (told as ok).
    void appliquer(const JeuRegles &jeu);
    const JeuRegles &jeu() const { return m_jeu; }
    // `intervalle`: the host's usual gap between reports in ms, 0 when unknown.
    void recevoir(const RapportHyperviseur &rapport, qint64 intervalle);
    void evaluer();
    // Takes up the alerts kept across a restart, without telling them again:
    // until its next report, a host is judged on its silence alone.
    void restaurer(const QVector<Alerte> &gardees);

    // Every state other than ok, by host, rule and VM.
    QVector<Alerte> actives() const;
    quint64 valeursImpossibles() const { return m_impossibles; }

signals:
    void changement(const Alerte &alerte);

private:
    struct Hote
    {
        RapportHyperviseur dernier;
        qint64 recu = 0;
        qint64 intervalle = 0;
        bool rapporte = false; // false for a host known only from the alerts kept
        // As last judged: unless one of them changes or a condition holds,
        // the clock alone changes nothing but its silence.
        bool silence = false;
        bool injoignable = false;
        bool conditionTenue = false;
        QSet<QString> vmsVues; // seen running
        // By rule and VM: a pair rather than one string, which would be built at each look-up.
        QHash<QPair<QString, QString>, SuiviAlerte> suivis;
        QStringList nomsVms; // of the last report, in its order
    };

    void evaluerHote(Hote &hote, qint64 maintenant, bool nouveau);
    void evaluerSeuil(Hote &hote, const Regle &regle, const QString &vm, double valeur, qint64 maintenant, bool silence,
                      bool nouveau);
    void evaluerVms(Hote &hote, const Regle &regle, qint64 maintenant, bool silence, bool nouveau);
    void noter(SuiviAlerte &s, EtatAlerte etat, double valeur, qint64 maintenant, bool silence, bool nouveau,
               double seuil = Regle::aucun);
    SuiviAlerte &suivi(Hote &hote, const Regle &regle, const QString &vm);
    void oublier(Hote &hote, const std::function<bool(const Alerte &)> &quoi, qint64 maintenant);

    Horloge m_horloge;
    JeuRegles m_jeu;
    QHash<QString, Hote> m_hotes;
    quint64 m_impossibles = 0;
};

#endif
