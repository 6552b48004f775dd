// SPDX-License-Identifier: MIT
#ifndef FLUXEVENEMENTS_H
#define FLUXEVENEMENTS_H

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>

#include <cstdint>
#include <sys/types.h>

struct MHD_Connection;
struct MHD_Response;

// The live pages, each a stream of Server-Sent Events: what waits to be
// sent to each, kept under a bound. A page with nothing to send waits as a
// suspended connection, resumed when there is, so that it costs no thread.
class FluxEvenements
{
public:
    struct Page;

    // A page that lets this much wait unsent is dropped: it reconnects and
    // starts again from a snapshot, and a stalled one costs no more than this.
    static constexpr int attentePageParDefaut = 4 * 1024 * 1024;

    FluxEvenements() = default;
    FluxEvenements(const FluxEvenements &) = delete;
    FluxEvenements &operator=(const FluxEvenements &) = delete;

    // A page whose stream starts with `debut`, to those sent with `filtre`.
    Page *ouvrir(const QString &filtre, const QByteArray &debut);
    // The stream's response on `connexion`, which owns the page from then on.
    MHD_Response *reponse(Page *page, MHD_Connection *connexion);
    // A page never handed to a response.
    void liberer(Page *page);

    // To every page, or to those opened with `filtre`.
    void diffuser(const QByteArray &evenement, const QString &filtre);
    static QByteArray evenement(const QByteArray &type, const QByteArray &donnees);

    // Pages end their stream once what they hold is sent.
    void arreter();
    // The connections of the pages waiting for something to send, no longer
    // counted as waiting: the caller resumes them.
    QVector<MHD_Connection *> reprendreSuspendues();

    int pages() const;
    quint64 pagesAbandonnees() const;
    qint64 octetsEnAttente() const;
    void fixerAttentePageMaximum(int octets) { m_attentePageMaximum = octets; }

private:
    long lire(Page *page, char *tampon, size_t maximum);
    // libmicrohttpd's callbacks, with the page as their closure.
    static ssize_t lirePage(void *page, uint64_t position, char *tampon, size_t maximum);
    static void libererPage(void *page);

    mutable QMutex m_mutex;
    bool m_arret = false;
    QSet<Page *> m_pages;
    quint64 m_abandons = 0;
    int m_attentePageMaximum = attentePageParDefaut;
};

#endif
