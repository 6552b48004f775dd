// SPDX-License-Identifier: MIT
#ifndef SERVEURHTTP_H
#define SERVEURHTTP_H

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QVector>

#include <functional>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

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
// every connection (epoll), and a live page waits as a suspended connection,
// resumed when there is something to send, so that a hundred open pages cost
// no thread each. The page's files are a fixed table compiled into the
// program; no part of a request is ever used as a file path. Other paths are
// routes whose handlers run in the thread that owns this object (where the
// fleet lives) or in a pool, while the connection waits, suspended.
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
    // A page that lets this much wait unsent is dropped: it reconnects and
    // starts again from a snapshot, and a stalled one costs no more than this.
    static constexpr int attentePageParDefaut = 4 * 1024 * 1024;
    static const char *const politiqueContenu;

    explicit ServeurHttp(QObject *parent = nullptr);
    ~ServeurHttp() override;

    void ajouterRoute(const QString &chemin, Execution execution, const Traitement &traitement);
    void fixerControle(const Controle &controle) { m_controle = controle; }
    // PEM certificate chain and key, before demarrer(): HTTPS only.
    void fixerTls(const QByteArray &certificat, const QByteArray &cle);
    bool tls() const { return m_tls; }
    // After a failed demarrer(): libmicrohttpd turned the certificate or key down.
    bool tlsRefuse() const { return m_tlsRefuse; }
    bool demarrer(const QHostAddress &adresse, quint16 port, QString *erreur = nullptr);
    // Answers what waits with 503, ends the live pages, then stops.
    void arreter();
    quint16 port() const;

    // To every live page, or to those opened with `filtre`. From this object's thread.
    void diffuser(const QByteArray &evenement, const QString &filtre = QString());
    static QByteArray evenement(const QByteArray &type, const QByteArray &donnees);

    int pages() const;
    quint64 pagesAbandonnees() const;
    qint64 octetsEnAttente() const;
    void fixerAttentePageMaximum(int octets) { m_attentePageMaximum = octets; }

private:
    friend struct RappelsMhd;
    struct Page;
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
    long lirePage(Page *page, char *tampon, size_t maximum);
    void libererPage(Page *page);

    MHD_Daemon *m_demon = nullptr;
    quint16 m_port = 0;
    void journalMhd(const QString &ligne);

    QHash<QString, Route> m_routes;
    Controle m_controle;
    QByteArray m_certificat;
    QByteArray m_cle;
    bool m_tls = false;
    bool m_tlsRefuse = false;
    // libmicrohttpd's own messages while it starts; later ones are dropped.
    QStringList m_journalDemarrage;
    bool m_demarrage = false;
    struct Fichier
    {
        QByteArray contenu;
        MHD_Response *reponse = nullptr;
    };
    QHash<QString, Fichier> m_fichiers;
    QThreadPool m_pool;

    mutable QMutex m_mutex;
    bool m_arret = false;
    QSet<Page *> m_pages;
    QSet<Demande *> m_enAttente;
    quint64 m_abandons = 0;
    int m_attentePageMaximum = attentePageParDefaut;
};

#endif
