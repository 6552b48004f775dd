// SPDX-License-Identifier: MIT
#ifndef FICHIERSPAGE_H
#define FICHIERSPAGE_H

#include <QByteArray>
#include <QHash>
#include <QString>

struct MHD_Response;

// The page's files, a fixed table compiled into the program: no part of a
// request is ever used as a file path. Each answer is built once and queued
// to every request for it.
class FichiersPage
{
public:
    // What the page may load, sent with every answer of the server.
    static constexpr const char *politiqueContenu =
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
        "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

    FichiersPage();
    ~FichiersPage();
    FichiersPage(const FichiersPage &) = delete;
    FichiersPage &operator=(const FichiersPage &) = delete;

    // Null for a path that is none of the page's files.
    MHD_Response *reponse(const QString &chemin) const;

    static void entetesCommunes(MHD_Response *reponse);

private:
    struct Fichier
    {
        QByteArray contenu;
        MHD_Response *reponse = nullptr;
    };
    QHash<QString, Fichier> m_fichiers;
};

#endif
