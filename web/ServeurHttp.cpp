// SPDX-License-Identifier: MIT
#include "ServeurHttp.h"

#include <QFile>
#include <QMetaObject>
#include <QMutexLocker>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// Outside any namespace, as Q_INIT_RESOURCE requires: the page's files are
// in a static library, which the linker would otherwise leave out.
static void initialiserRessources()
{
    Q_INIT_RESOURCE(page);
}

namespace {

struct FichierPage
{
    const char *url;
    const char *ressource;
    const char *type;
};

const FichierPage fichiersPage[] = {
    {"/", ":/page/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/page/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/page/app.js", "text/javascript; charset=utf-8"},
    {"/alertes.js", ":/page/alertes.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/page/style.css", "text/css; charset=utf-8"},
    {"/favicon.svg", ":/page/favicon.svg", "image/svg+xml"},
    // Asked for by browsers and tools that do not read the page's link.
    {"/favicon.ico", ":/page/favicon.svg", "image/svg+xml"},
    {"/vendor/uplot/uPlot.iife.min.js", ":/page/vendor/uplot/uPlot.iife.min.js", "text/javascript; charset=utf-8"},
    {"/vendor/uplot/uPlot.min.css", ":/page/vendor/uplot/uPlot.min.css", "text/css; charset=utf-8"},
    {"/vendor/uplot/LICENSE", ":/page/vendor/uplot/LICENSE", "text/plain; charset=utf-8"},
};

void entetesCommunes(MHD_Response *reponse)
{
    MHD_add_response_header(reponse, "Content-Security-Policy", ServeurHttp::politiqueContenu);
    MHD_add_response_header(reponse, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(reponse, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(reponse, "X-Frame-Options", "DENY");
}

MHD_Result compterEntete(void *compte, MHD_ValueKind, const char *, const char *)
{
    ++*static_cast<int *>(compte);
    return MHD_YES;
}

MHD_Result lireParametre(void *parametres, MHD_ValueKind, const char *cle, const char *valeur)
{
    static_cast<QHash<QString, QString> *>(parametres)
        ->insert(QString::fromUtf8(cle), valeur ? QString::fromUtf8(valeur) : QString());
    return MHD_YES;
}

MHD_Result repondreImmediatement(MHD_Connection *connexion, int statut, const QString &message,
                                 const char *autorise = nullptr)
{
    const QByteArray corps = message.toUtf8() + '\n';
    MHD_Response *reponse =
        MHD_create_response_from_buffer(size_t(corps.size()), const_cast<char *>(corps.constData()), MHD_RESPMEM_MUST_COPY);
    entetesCommunes(reponse);
    MHD_add_response_header(reponse, "Content-Type", "text/plain; charset=utf-8");
    if (autorise)
        MHD_add_response_header(reponse, "Allow", autorise);
    const MHD_Result resultat = MHD_queue_response(connexion, unsigned(statut), reponse);
    MHD_destroy_response(reponse);
    return resultat;
}

QByteArray autorisation(MHD_Connection *connexion)
{
    return QByteArray(MHD_lookup_connection_value(connexion, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION));
}

QString adresseClient(MHD_Connection *connexion)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connexion, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info && info->client_addr ? QHostAddress(info->client_addr).toString() : QString();
}

} // namespace

const char *const ServeurHttp::politiqueContenu =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct ServeurHttp::Page
{
    ServeurHttp *serveur = nullptr;
    MHD_Connection *connexion = nullptr; // once its response is queued
    QString filtre;
    QByteArray attente;
    int debut = 0;
    bool suspendue = false;
    bool abandonnee = false;
};

struct ServeurHttp::Demande
{
    MHD_Connection *connexion = nullptr;
    bool prete = false;
    ReponseHttp reponse;
    Page *page = nullptr;
};

// libmicrohttpd's C callbacks, in its thread, handed to the server.
struct RappelsMhd
{
    static MHD_Result acces(void *serveur, MHD_Connection *connexion, const char *url, const char *methode,
                            const char *, const char *, size_t *tailleEnvoi, void **contexte)
    {
        return MHD_Result(static_cast<ServeurHttp *>(serveur)->acces(connexion, url, methode, tailleEnvoi, contexte));
    }
    static void terminee(void *serveur, MHD_Connection *, void **contexte, MHD_RequestTerminationCode)
    {
        static_cast<ServeurHttp *>(serveur)->terminee(static_cast<ServeurHttp::Demande *>(*contexte));
        *contexte = nullptr;
    }
    static ssize_t lirePage(void *page, uint64_t, char *tampon, size_t maximum)
    {
        auto *p = static_cast<ServeurHttp::Page *>(page);
        return ssize_t(p->serveur->lirePage(p, tampon, maximum));
    }
    static void journal(void *serveur, const char *format, va_list arguments)
    {
        // What made the start fail is read from errno afterwards.
        const int erreurSysteme = errno;
        char ligne[512];
        std::vsnprintf(ligne, sizeof ligne, format, arguments);
        static_cast<ServeurHttp *>(serveur)->journalMhd(QString::fromLocal8Bit(ligne).trimmed());
        errno = erreurSysteme;
    }
    static void libererPage(void *page)
    {
        auto *p = static_cast<ServeurHttp::Page *>(page);
        p->serveur->libererPage(p);
    }
};

ReponseHttp ReponseHttp::texte(int statut, const QString &message)
{
    ReponseHttp reponse;
    reponse.statut = statut;
    reponse.type = "text/plain; charset=utf-8";
    reponse.corps = message.toUtf8() + '\n';
    return reponse;
}

ServeurHttp::ServeurHttp(QObject *parent)
    : QObject(parent)
{
    initialiserRessources();
    m_pool.setMaxThreadCount(2);
    for (const FichierPage &fichierPage : fichiersPage) {
        QFile source(QString::fromLatin1(fichierPage.ressource));
        Fichier fichier;
        if (source.open(QIODevice::ReadOnly))
            fichier.contenu = source.readAll();
        // Built once, queued to every request for it.
        fichier.reponse = MHD_create_response_from_buffer(size_t(fichier.contenu.size()),
                                                          const_cast<char *>(fichier.contenu.constData()),
                                                          MHD_RESPMEM_PERSISTENT);
        entetesCommunes(fichier.reponse);
        MHD_add_response_header(fichier.reponse, "Content-Type", fichierPage.type);
        MHD_add_response_header(fichier.reponse, "Cache-Control", "no-cache");
        m_fichiers.insert(QString::fromLatin1(fichierPage.url), fichier);
    }
}

ServeurHttp::~ServeurHttp()
{
    arreter();
    for (const Fichier &fichier : qAsConst(m_fichiers))
        MHD_destroy_response(fichier.reponse);
}

void ServeurHttp::ajouterRoute(const QString &chemin, Execution execution, const Traitement &traitement)
{
    m_routes.insert(chemin, Route{execution, traitement});
}

void ServeurHttp::fixerTls(const QByteArray &certificat, const QByteArray &cle)
{
    m_certificat = certificat;
    m_cle = cle;
    m_tls = true;
}

void ServeurHttp::journalMhd(const QString &ligne)
{
    QMutexLocker verrou(&m_mutex);
    if (m_demarrage)
        m_journalDemarrage.append(ligne);
}

bool ServeurHttp::demarrer(const QHostAddress &adresse, quint16 port, QString *erreur)
{
    sockaddr_in ipv4{};
    sockaddr_in6 ipv6{};
    const sockaddr *socketAdresse = nullptr;
    unsigned drapeaux = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    // GnuTLS, inside libmicrohttpd, copies both at start.
    MHD_OptionItem optionsTls[] = {{MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(m_certificat.constData())},
                                   {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(m_cle.constData())},
                                   {MHD_OPTION_END, 0, nullptr}};
    MHD_OptionItem sansTls[] = {{MHD_OPTION_END, 0, nullptr}};
    if (tls())
        drapeaux |= MHD_USE_TLS;
    if (adresse.protocol() == QAbstractSocket::IPv6Protocol) {
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_port = htons(port);
        const Q_IPV6ADDR octets = adresse.toIPv6Address();
        std::memcpy(&ipv6.sin6_addr, &octets, sizeof octets);
        socketAdresse = reinterpret_cast<const sockaddr *>(&ipv6);
        drapeaux |= MHD_USE_IPv6;
    } else {
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = htonl(adresse.toIPv4Address());
        socketAdresse = reinterpret_cast<const sockaddr *>(&ipv4);
    }
    {
        QMutexLocker verrou(&m_mutex);
        m_demarrage = true;
        m_journalDemarrage.clear();
    }
    m_demon = MHD_start_daemon(drapeaux, port, nullptr, nullptr, &RappelsMhd::acces, this,
                               MHD_OPTION_EXTERNAL_LOGGER, &RappelsMhd::journal, this,
                               MHD_OPTION_SOCK_ADDR, socketAdresse,
                               MHD_OPTION_CONNECTION_LIMIT, connexionsMaximum,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, memoireConnexion,
                               MHD_OPTION_CONNECTION_TIMEOUT, delaiInactivite,
                               MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
                               MHD_OPTION_NOTIFY_COMPLETED, &RappelsMhd::terminee, this,
                               MHD_OPTION_ARRAY, tls() ? optionsTls : sansTls,
                               MHD_OPTION_END);
    const int erreurSysteme = errno;
    QStringList journal;
    {
        QMutexLocker verrou(&m_mutex);
        m_demarrage = false;
        journal.swap(m_journalDemarrage);
    }
    if (!m_demon) {
        // GnuTLS's reason comes first, then libmicrohttpd's summary.
        const auto ligneTls = std::find_if(journal.cbegin(), journal.cend(), [](const QString &ligne) {
            return ligne.contains(QLatin1String("x509")) || ligne.contains(QLatin1String("TLS"));
        });
        m_tlsRefuse = tls() && ligneTls != journal.cend();
        if (erreur) {
            *erreur = m_tlsRefuse ? *ligneTls : QString::fromLocal8Bit(std::strerror(erreurSysteme));
            if (erreur->endsWith(QLatin1Char('.')))
                erreur->chop(1);
        }
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_demon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : port;
    return true;
}

quint16 ServeurHttp::port() const
{
    return m_port;
}

void ServeurHttp::arreter()
{
    if (!m_demon)
        return;
    {
        QMutexLocker verrou(&m_mutex);
        m_arret = true;
    }
    m_pool.waitForDone();
    QVector<MHD_Connection *> reprendre;
    {
        QMutexLocker verrou(&m_mutex);
        for (Page *page : qAsConst(m_pages)) {
            if (page->suspendue)
                reprendre.append(page->connexion);
            page->suspendue = false;
        }
        for (Demande *demande : qAsConst(m_enAttente)) {
            demande->reponse = ReponseHttp::texte(503, QStringLiteral("Arrêt en cours."));
            demande->prete = true;
            reprendre.append(demande->connexion);
        }
        m_enAttente.clear();
    }
    // libmicrohttpd must not be stopped with a connection still suspended.
    for (MHD_Connection *connexion : qAsConst(reprendre))
        MHD_resume_connection(connexion);
    MHD_stop_daemon(m_demon);
    m_demon = nullptr;
}

int ServeurHttp::acces(MHD_Connection *connexion, const char *url, const char *methode, size_t *tailleEnvoi,
                       void **contexte)
{
    auto *demande = static_cast<Demande *>(*contexte);
    if (!demande) {
        demande = new Demande;
        demande->connexion = connexion;
        *contexte = demande;
        const bool lecture = std::strcmp(methode, MHD_HTTP_METHOD_GET) == 0 || std::strcmp(methode, MHD_HTTP_METHOD_HEAD) == 0;
        if (!lecture)
            return repondreImmediatement(connexion, MHD_HTTP_METHOD_NOT_ALLOWED,
                                         QStringLiteral("Seules GET et HEAD sont acceptées."), "GET, HEAD");
        int entetes = 0;
        MHD_get_connection_values(connexion, MHD_HEADER_KIND, &compterEntete, &entetes);
        if (entetes > entetesMaximum)
            return repondreImmediatement(connexion, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                                         QStringLiteral("Trop d'en-têtes."));
        if (m_controle && !m_controle(QString::fromUtf8(url), autorisation(connexion), adresseClient(connexion),
                                      demande->reponse)) {
            demande->prete = true;
            return envoyer(connexion, demande);
        }
        // The answer waits for the end of the request.
        return MHD_YES;
    }
    if (*tailleEnvoi != 0) {
        // A body is never read: dropped as it comes, so it costs no memory.
        *tailleEnvoi = 0;
        return MHD_YES;
    }
    if (demande->prete)
        return envoyer(connexion, demande);

    const QString chemin = QString::fromUtf8(url);
    const auto fichier = m_fichiers.constFind(chemin);
    if (fichier != m_fichiers.constEnd())
        return MHD_queue_response(connexion, MHD_HTTP_OK, fichier->reponse);
    const auto route = m_routes.constFind(chemin);
    if (route == m_routes.constEnd())
        return repondreImmediatement(connexion, MHD_HTTP_NOT_FOUND, QStringLiteral("Introuvable."));

    RequeteHttp requete;
    requete.chemin = chemin;
    MHD_get_connection_values(connexion, MHD_GET_ARGUMENT_KIND, &lireParametre, &requete.parametres);
    {
        QMutexLocker verrou(&m_mutex);
        if (m_arret)
            return repondreImmediatement(connexion, MHD_HTTP_SERVICE_UNAVAILABLE, QStringLiteral("Arrêt en cours."));
        m_enAttente.insert(demande);
    }
    MHD_suspend_connection(connexion);
    const Traitement traitement = route->traitement;
    if (route->execution == FilDuServeur) {
        QMetaObject::invokeMethod(
            this, [this, demande, traitement, requete]() { repondre(demande, traitement(requete)); },
            Qt::QueuedConnection);
    } else {
        m_pool.start([this, demande, traitement, requete]() { repondre(demande, traitement(requete)); });
    }
    return MHD_YES;
}

void ServeurHttp::repondre(Demande *demande, const ReponseHttp &reponse)
{
    {
        QMutexLocker verrou(&m_mutex);
        // Already answered by the stop.
        if (!m_enAttente.remove(demande))
            return;
        demande->reponse = reponse;
        demande->prete = true;
        if (reponse.flux) {
            auto *page = new Page;
            page->serveur = this;
            page->filtre = reponse.filtre;
            page->attente = reponse.corps;
            m_pages.insert(page);
            demande->page = page;
        }
    }
    MHD_resume_connection(demande->connexion);
}

int ServeurHttp::envoyer(MHD_Connection *connexion, Demande *demande)
{
    const ReponseHttp &reponse = demande->reponse;
    MHD_Response *mhd = nullptr;
    if (reponse.flux && demande->page) {
        mhd = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &RappelsMhd::lirePage, demande->page,
                                                &RappelsMhd::libererPage);
        {
            QMutexLocker verrou(&m_mutex);
            demande->page->connexion = connexion;
        }
        // The response owns the page from now on.
        demande->page = nullptr;
        MHD_add_response_header(mhd, "Content-Type", "text/event-stream; charset=utf-8");
        MHD_add_response_header(mhd, "Cache-Control", "no-store");
    } else {
        mhd = MHD_create_response_from_buffer(size_t(reponse.corps.size()), const_cast<char *>(reponse.corps.constData()),
                                              MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(mhd, "Content-Type", reponse.type.constData());
        MHD_add_response_header(mhd, "Cache-Control", "no-store");
        for (const auto &entete : reponse.entetes)
            MHD_add_response_header(mhd, entete.first.constData(), entete.second.constData());
    }
    entetesCommunes(mhd);
    const MHD_Result resultat = MHD_queue_response(connexion, unsigned(reponse.statut), mhd);
    MHD_destroy_response(mhd);
    return resultat;
}

void ServeurHttp::terminee(Demande *demande)
{
    if (!demande)
        return;
    if (demande->page) {
        // Never handed to a response: the connection ended before.
        QMutexLocker verrou(&m_mutex);
        m_pages.remove(demande->page);
        delete demande->page;
    }
    {
        QMutexLocker verrou(&m_mutex);
        m_enAttente.remove(demande);
    }
    delete demande;
}

long ServeurHttp::lirePage(Page *page, char *tampon, size_t maximum)
{
    QMutexLocker verrou(&m_mutex);
    if (page->abandonnee)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    if (m_arret)
        return MHD_CONTENT_READER_END_OF_STREAM;
    const int disponible = page->attente.size() - page->debut;
    if (disponible <= 0) {
        page->attente.clear();
        page->debut = 0;
        page->suspendue = true;
        MHD_suspend_connection(page->connexion);
        return 0;
    }
    const int n = int(qMin<size_t>(maximum, size_t(disponible)));
    std::memcpy(tampon, page->attente.constData() + page->debut, size_t(n));
    page->debut += n;
    if (page->debut == page->attente.size()) {
        page->attente.clear();
        page->debut = 0;
    }
    return n;
}

void ServeurHttp::libererPage(Page *page)
{
    QMutexLocker verrou(&m_mutex);
    m_pages.remove(page);
    delete page;
}

void ServeurHttp::diffuser(const QByteArray &evenement, const QString &filtre)
{
    QVector<MHD_Connection *> reprendre;
    {
        QMutexLocker verrou(&m_mutex);
        for (Page *page : qAsConst(m_pages)) {
            if (page->abandonnee || (!filtre.isEmpty() && page->filtre != filtre))
                continue;
            // What was sent is dropped only once it is half the buffer, or
            // when the limit comes near, so that the bound is on memory.
            if (page->debut > 0
                && (page->debut * 2 >= page->attente.size() || page->attente.size() + evenement.size() > m_attentePageMaximum)) {
                page->attente.remove(0, page->debut);
                page->debut = 0;
            }
            if (page->attente.size() + evenement.size() > m_attentePageMaximum) {
                page->abandonnee = true;
                page->attente = QByteArray();
                ++m_abandons;
            } else {
                page->attente += evenement;
            }
            if (page->suspendue) {
                page->suspendue = false;
                reprendre.append(page->connexion);
            }
        }
    }
    // A suspended connection is never closed by libmicrohttpd, so the
    // pointers stay valid once the lock is released.
    for (MHD_Connection *connexion : qAsConst(reprendre))
        MHD_resume_connection(connexion);
}

QByteArray ServeurHttp::evenement(const QByteArray &type, const QByteArray &donnees)
{
    // Compact JSON holds no line feed, so one data line carries it.
    return "event: " + type + "\ndata: " + donnees + "\n\n";
}

int ServeurHttp::pages() const
{
    QMutexLocker verrou(&m_mutex);
    return int(m_pages.size());
}

quint64 ServeurHttp::pagesAbandonnees() const
{
    QMutexLocker verrou(&m_mutex);
    return m_abandons;
}

qint64 ServeurHttp::octetsEnAttente() const
{
    QMutexLocker verrou(&m_mutex);
    qint64 total = 0;
    for (const Page *page : m_pages)
        total += page->attente.size();
    return total;
}
