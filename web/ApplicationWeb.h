// SPDX-License-Identifier: MIT
#ifndef APPLICATIONWEB_H
#define APPLICATIONWEB_H

#include "ClientCollecteur.h"
#include "ControleAcces.h"
#include "EtatFlotte.h"
#include "ServeurHttp.h"
#include "ServiceAlertes.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

struct ParametresWeb
{
    QString hoteCollecteur = QStringLiteral("127.0.0.1");
    quint16 portCollecteur = 56000;
    QHostAddress ecoute = QHostAddress(QHostAddress::LocalHost);
    quint16 portEcoute = 56080;
    int fenetreMinutes = 15;
    QString sauvegardes = QStringLiteral(".");
    // Empty: the archive's own default, beside the backups.
    QString archive;
    ParametresAlertes alertes;
    // PEM files; both or neither.
    QString tlsCertificat;
    QString tlsCle;
    // Empty: no login asked.
    QString utilisateurs;
    bool metriquesLibres = false;
};

// Ties the collector's relay to the fleet state and the fleet to the HTTP
// routes: the page's snapshot and its live updates (at most one per
// hypervisor per second), a host's detail, its history, the metrics, and
// the alert rules judged on each report and each second.
class ApplicationWeb : public QObject
{
    Q_OBJECT

public:
    // Reports that come together go out in one update, at most this often (ms).
    static constexpr int delaiLot = 50;
    // A comment line now and then, so that a page gone without a word is found out.
    static constexpr int periodeEntretien = 15000;
    // At most ten years of history per request.
    static constexpr qint64 dureeHistoriqueMaximum = 3660 * 86400;
    // The page is told of alert changes at most this often (ms).
    static constexpr int delaiAlertes = 1000;

    explicit ApplicationWeb(const ParametresWeb &parametres, QObject *parent = nullptr);

    bool demarrer();
    void arreter();

    EtatFlotte &flotte() { return m_flotte; }
    ServeurHttp &serveur() { return m_serveur; }
    ClientCollecteur &client() { return m_client; }
    ServiceAlertes &alertes() { return m_alertes; }
    quint64 rapportsInvalides() const { return m_invalides; }

public slots:
    void recevoir(const QString &texte);
    void publier();
    // Reads the rules file and the users file again; a bad one leaves
    // what it held in force.
    void recharger();

private slots:
    void connexionChangee(bool connecte);
    void entretenir();
    void publierAlertes();

private:
    bool preparerAcces();
    void planifier(qint64 instant);
    ReponseHttp flux(const RequeteHttp &requete);
    ReponseHttp hyperviseur(const RequeteHttp &requete);
    ReponseHttp metriques(const RequeteHttp &requete);
    static ReponseHttp historique(const QString &sauvegardes, const QString &archive, const RequeteHttp &requete);

    ParametresWeb m_parametres;
    QString m_archive;
    EtatFlotte m_flotte;
    ClientCollecteur m_client;
    ServeurHttp m_serveur;
    QTimer m_publication;
    qint64 m_prochainePublication = 0;
    qint64 m_dernierePublication = 0;
    bool m_demarre = false;
    QTimer m_entretien;
    quint64 m_invalides = 0;
    ServiceAlertes m_alertes;
    QTimer m_publicationAlertes;
    ControleAcces m_acces;
    QTimer m_journalAcces;
};

#endif
