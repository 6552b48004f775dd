// SPDX-License-Identifier: MIT
#include "FichiersPage.h"

#include <QFile>

#include <microhttpd.h>

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

} // namespace

FichiersPage::FichiersPage()
{
    initialiserRessources();
    for (const FichierPage &fichierPage : fichiersPage) {
        QFile source(QString::fromLatin1(fichierPage.ressource));
        Fichier fichier;
        if (source.open(QIODevice::ReadOnly))
            fichier.contenu = source.readAll();
        fichier.reponse = MHD_create_response_from_buffer(size_t(fichier.contenu.size()),
                                                          const_cast<char *>(fichier.contenu.constData()),
                                                          MHD_RESPMEM_PERSISTENT);
        entetesCommunes(fichier.reponse);
        MHD_add_response_header(fichier.reponse, "Content-Type", fichierPage.type);
        MHD_add_response_header(fichier.reponse, "Cache-Control", "no-cache");
        m_fichiers.insert(QString::fromLatin1(fichierPage.url), fichier);
    }
}

FichiersPage::~FichiersPage()
{
    for (const Fichier &fichier : qAsConst(m_fichiers))
        MHD_destroy_response(fichier.reponse);
}

MHD_Response *FichiersPage::reponse(const QString &chemin) const
{
    const auto fichier = m_fichiers.constFind(chemin);
    return fichier != m_fichiers.constEnd() ? fichier->reponse : nullptr;
}

void FichiersPage::entetesCommunes(MHD_Response *reponse)
{
    MHD_add_response_header(reponse, "Content-Security-Policy", politiqueContenu);
    MHD_add_response_header(reponse, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(reponse, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(reponse, "X-Frame-Options", "DENY");
}
