// SPDX-License-Identifier: MIT
#include "ServeurHttp.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace {

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
    FichiersPage::entetesCommunes(reponse);
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

struct ServeurHttp::Demande
{
    MHD_Connection *connexion = nullptr;
    bool prete = false;
    ReponseHttp reponse;
    FluxEvenements::Page *page = nullptr;
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
    m_pool.setMaxThreadCount(2);
}

ServeurHttp::~ServeurHttp()
{
    arreter();
}

void ServeurHttp::ajouterRoute(const QString &chemin, Execution execution, const Traitement &traitement)
{
    m_routes.insert(chemin, Route{execution, traitement});
}

bool ServeurHttp::demarrer(const QHostAddress &adresse, quint16 port, QString *erreur)
{
    sockaddr_in ipv4{};
    sockaddr_in6 ipv6{};
    const sockaddr *socketAdresse = nullptr;
    unsigned drapeaux = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    QVector<MHD_OptionItem> optionsTls = m_tls.options();
    drapeaux |= m_tls.drapeaux();
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
    m_tls.commencerDemarrage();
    m_demon = MHD_start_daemon(drapeaux, port, nullptr, nullptr, &RappelsMhd::acces, this,
                               MHD_OPTION_EXTERNAL_LOGGER, &ConfigurationTls::journal, &m_tls,
                               MHD_OPTION_SOCK_ADDR, socketAdresse,
                               MHD_OPTION_CONNECTION_LIMIT, connexionsMaximum,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, memoireConnexion,
                               MHD_OPTION_CONNECTION_TIMEOUT, delaiInactivite,
                               MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
                               MHD_OPTION_NOTIFY_COMPLETED, &RappelsMhd::terminee, this,
                               MHD_OPTION_ARRAY, optionsTls.data(),
                               MHD_OPTION_END);
    m_tls.finirDemarrage(m_demon != nullptr, errno, erreur);
    if (!m_demon)
        return false;
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
    m_flux.arreter();
    m_pool.waitForDone();
    QVector<MHD_Connection *> reprendre = m_flux.reprendreSuspendues();
    {
        QMutexLocker verrou(&m_mutex);
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
    if (MHD_Response *fichier = m_fichiers.reponse(chemin))
        return MHD_queue_response(connexion, MHD_HTTP_OK, fichier);
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
        if (reponse.flux)
            demande->page = m_flux.ouvrir(reponse.filtre, reponse.corps);
    }
    MHD_resume_connection(demande->connexion);
}

int ServeurHttp::envoyer(MHD_Connection *connexion, Demande *demande)
{
    const ReponseHttp &reponse = demande->reponse;
    MHD_Response *mhd = nullptr;
    if (reponse.flux && demande->page) {
        mhd = m_flux.reponse(demande->page, connexion);
        demande->page = nullptr;
    } else {
        mhd = MHD_create_response_from_buffer(size_t(reponse.corps.size()), const_cast<char *>(reponse.corps.constData()),
                                              MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(mhd, "Content-Type", reponse.type.constData());
        MHD_add_response_header(mhd, "Cache-Control", "no-store");
        for (const auto &entete : reponse.entetes)
            MHD_add_response_header(mhd, entete.first.constData(), entete.second.constData());
    }
    FichiersPage::entetesCommunes(mhd);
    const MHD_Result resultat = MHD_queue_response(connexion, unsigned(reponse.statut), mhd);
    MHD_destroy_response(mhd);
    return resultat;
}

void ServeurHttp::terminee(Demande *demande)
{
    if (!demande)
        return;
    // Never handed to a response: the connection ended before.
    if (demande->page)
        m_flux.liberer(demande->page);
    {
        QMutexLocker verrou(&m_mutex);
        m_enAttente.remove(demande);
    }
    delete demande;
}
