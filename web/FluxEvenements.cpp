// SPDX-License-Identifier: MIT
#include "FluxEvenements.h"

#include <QMutexLocker>

#include <microhttpd.h>

#include <cstring>

struct FluxEvenements::Page
{
    FluxEvenements *flux = nullptr;
    MHD_Connection *connexion = nullptr; // once its response is queued
    QString filtre;
    QByteArray attente;
    int debut = 0;
    bool suspendue = false;
    bool abandonnee = false;
};

FluxEvenements::Page *FluxEvenements::ouvrir(const QString &filtre, const QByteArray &debut)
{
    auto *page = new Page;
    page->flux = this;
    page->filtre = filtre;
    page->attente = debut;
    QMutexLocker verrou(&m_mutex);
    m_pages.insert(page);
    return page;
}

MHD_Response *FluxEvenements::reponse(Page *page, MHD_Connection *connexion)
{
    MHD_Response *mhd =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &FluxEvenements::lirePage, page,
                                          &FluxEvenements::libererPage);
    {
        QMutexLocker verrou(&m_mutex);
        page->connexion = connexion;
    }
    MHD_add_response_header(mhd, "Content-Type", "text/event-stream; charset=utf-8");
    MHD_add_response_header(mhd, "Cache-Control", "no-store");
    return mhd;
}

void FluxEvenements::liberer(Page *page)
{
    QMutexLocker verrou(&m_mutex);
    m_pages.remove(page);
    delete page;
}

ssize_t FluxEvenements::lirePage(void *page, uint64_t, char *tampon, size_t maximum)
{
    auto *p = static_cast<Page *>(page);
    return ssize_t(p->flux->lire(p, tampon, maximum));
}

void FluxEvenements::libererPage(void *page)
{
    auto *p = static_cast<Page *>(page);
    p->flux->liberer(p);
}

long FluxEvenements::lire(Page *page, char *tampon, size_t maximum)
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

void FluxEvenements::diffuser(const QByteArray &evenement, const QString &filtre)
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

QByteArray FluxEvenements::evenement(const QByteArray &type, const QByteArray &donnees)
{
    // Compact JSON holds no line feed, so one data line carries it.
    return "event: " + type + "\ndata: " + donnees + "\n\n";
}

void FluxEvenements::arreter()
{
    QMutexLocker verrou(&m_mutex);
    m_arret = true;
}

QVector<MHD_Connection *> FluxEvenements::reprendreSuspendues()
{
    QVector<MHD_Connection *> reprendre;
    QMutexLocker verrou(&m_mutex);
    for (Page *page : qAsConst(m_pages)) {
        if (page->suspendue)
            reprendre.append(page->connexion);
        page->suspendue = false;
    }
    return reprendre;
}

int FluxEvenements::pages() const
{
    QMutexLocker verrou(&m_mutex);
    return int(m_pages.size());
}

quint64 FluxEvenements::pagesAbandonnees() const
{
    QMutexLocker verrou(&m_mutex);
    return m_abandons;
}

qint64 FluxEvenements::octetsEnAttente() const
{
    QMutexLocker verrou(&m_mutex);
    qint64 total = 0;
    for (const Page *page : m_pages)
        total += page->attente.size();
    return total;
}
