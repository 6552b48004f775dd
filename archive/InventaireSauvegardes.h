// SPDX-License-Identifier: MIT
#ifndef INVENTAIRESAUVEGARDES_H
#define INVENTAIRESAUVEGARDES_H

#include <QString>
#include <QVector>

// The backup files of a folder that may be rolled into the archive, oldest
// first: those under their final name and those a crash interrupted, which
// hold real rows, all or part of them. Never one still being written, nor
// one already set aside as unreadable.
class InventaireSauvegardes
{
public:
    struct Sauvegarde
    {
        QString nom; // in the folder
        QString chemin;
        qint64 instant = 0; // Unix seconds, from its name
        qint64 taille = 0;
        bool interrompue = false;
    };

    static QVector<Sauvegarde> lister(const QString &dossier);
};

#endif
