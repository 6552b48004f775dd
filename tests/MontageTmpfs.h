// SPDX-License-Identifier: MIT
#ifndef MONTAGETMPFS_H
#define MONTAGETMPFS_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

// A small file system of its own, for a full disk or a read-only one. Only
// root may mount one: monte() says whether the test can go on.
class MontageTmpfs
{
public:
    explicit MontageTmpfs(const QString &options)
    {
        if (::geteuid() != 0 || !m_dossier.isValid())
            return;
        m_monte = ::mount("tmpfs", QFile::encodeName(m_dossier.path()).constData(), "tmpfs", 0,
                          options.toLatin1().constData())
                  == 0;
    }
    ~MontageTmpfs()
    {
        if (m_monte)
            ::umount2(QFile::encodeName(m_dossier.path()).constData(), MNT_DETACH);
    }
    MontageTmpfs(const MontageTmpfs &) = delete;
    MontageTmpfs &operator=(const MontageTmpfs &) = delete;

    bool monte() const { return m_monte; }
    QString dossier() const { return m_dossier.path(); }
    bool lectureSeule(bool oui)
    {
        return ::mount("tmpfs", QFile::encodeName(m_dossier.path()).constData(), "tmpfs",
                       MS_REMOUNT | (oui ? MS_RDONLY : 0), nullptr)
               == 0;
    }
    // Takes all the room left with a file of that name; false when the
    // file cannot even be created.
    bool remplir(const QString &nom)
    {
        QFile fichier(QDir(m_dossier.path()).filePath(nom));
        if (!fichier.open(QIODevice::WriteOnly))
            return false;
        const QByteArray bloc(4096, 'x');
        while (fichier.write(bloc) == bloc.size() && fichier.flush()) {
        }
        // What a block could not take, byte by byte.
        while (fichier.write("x", 1) == 1 && fichier.flush()) {
        }
        return true;
    }

private:
    QTemporaryDir m_dossier;
    bool m_monte = false;
};

#endif
