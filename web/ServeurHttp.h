// SPDX-License-Identifier: MIT
#ifndef SERVEURHTTP_H
#define SERVEURHTTP_H

#include "ConfigurationTls.h"
#include "FichiersPage.h"
#include "FluxEvenements.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QVector>

#include <functional>

struct MHD_Daemon;
struct MHD_Connection;

struct RequeteHttp
{
    QString chemin;
    QHash<QString, QString> parametres;
};

struct ReponseHttp
{
    int statut = 200;
    QByteArray type = "application/json";
    QByteArray corps;
    // More headers, such as Content-Disposition for a download.
    QVector<QPair<QByteArray, QByteArray>> entetes;
    // A stream of Server-Sent Events: `corps` is its first events, the page
    // then gets what diffuser() sends to every page or to its `filtre`.
    bool flux = false;
    QString filtre;

    static ReponseHttp texte(int statut, const QString &message);
};

// The dashboard's HTTP server, on libmicrohttpd: one internal thread polls
// every connection (epoll); live pages are kept by FluxEvenements, the
// page's files by FichiersPage. Other paths are routes whose handlers run in
// the thread that owns this object (where the fleet lives) or in a pool,
// while the connection waits, suspended.
class ServeurHttp : public QObject
{
    Q_OBJECT

public:
    enum Execution { FilDuServeur, ArrierePlan };
    using Traitement = std::function<ReponseHttp(const RequeteHttp &)>;
    // Asked before anything is served, in the polling thread, with the
    // path, the Authorization header and the client's address: true lets
    // the request through, false answers with `refus`.
    using Controle = std::function<bool(const QString &chemin, const QByteArray &autorisation, const QString &adresse,
                                        ReponseHttp &refus)>;

    static constexpr unsigned connexionsMaximum = 512;
    static constexpr int entetesMaximum = 64;
    // Request line and headers must fit in this (MHD answers 431 or 414 beyond).
    static constexpr size_t memoireConnexion = 32 * 1024;
    static constexpr unsigned delaiInactivite = 60; // seconds
    static constexpr int attentePageParDefaut = FluxEvenements::attentePageParDefaut;
    static constexpr const char *politiqueContenu = FichiersPage::politiqueContenu;

    explicit ServeurHttp(QObject *parent = nullptr);
    ~ServeurHttp() override;

    void ajouterRoute(const QString &chemin, Execution execution, const Traitement &traitement);
    void fixerControle(const Controle &controle) { m_controle = controle; }
    // PEM certificate chain and key, before demarrer(): HTTPS only.
    void fixerTls(const QByteArray &certificat, const QByteArray &cle) { m_tls.fixer(certificat, cle); }
    bool tls() const { return m_tls.active(); }
    // After a failed demarrer(): libmicrohttpd turned the certificate or key down.
    bool tlsRefuse() const { return m_tls.refusee(); }
    bool demarrer(const QHostAddress &adresse, quint16 port, QString *erreur = nullptr);
    // Answers what waits with 503, ends the live pages, then stops.
    void arreter();
    quint16 port() const;

    // To every live page, or to those opened with `filtre`. From this object's thread.
    void diffuser(const QByteArray &evenement, const QString &filtre = QString()) { m_flux.diffuser(evenement, filtre); }
    static QByteArray evenement(const QByteArray &type, const QByteArray &donnees)
    {
        return FluxEvenements::evenement(type, donnees);
    }

    int pages() const { return m_flux.pages(); }
    quint64 pagesAbandonnees() const { return m_flux.pagesAbandonnees(); }
    qint64 octetsEnAttente() const { return m_flux.octetsEnAttente(); }
    void fixerAttentePageMaximum(int octets) { m_flux.fixerAttentePageMaximum(octets); }

private:
    friend struct RappelsMhd;
    struct Demande;
    struct Route
    {
        Execution execution;
        Traitement traitement;
    };

    int acces(MHD_Connection *connexion, const char *url, const char *methode, size_t *tailleEnvoi, void **contexte);
    int envoyer(MHD_Connection *connexion, Demande *demande);
    void repondre(Demande *demande, const ReponseHttp &reponse);
    void terminee(Demande *demande);

    MHD_Daemon *m_demon = nullptr;
    quint16 m_port = 0;
    QHash<QString, Route> m_routes;
    Controle m_controle;
    ConfigurationTls m_tls;
    FichiersPage m_fichiers;
    FluxEvenements m_flux;
    QThreadPool m_pool;

    QMutex m_mutex;
    bool m_arret = false;
    QSet<Demande *> m_enAttente;
};

#endif
