// SPDX-License-Identifier: MIT
#include "EtatArchivage.h"

#include "FichierArchive.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool synchroniserDossier(const QString &dossier)
{
    const int descripteur = ::open(QFile::encodeName(dossier).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descripteur < 0)
        return false;
    const bool fait = ::fsync(descripteur) == 0;
    ::close(descripteur);
    return fait;
}

} // namespace

EtatArchivage::EtatArchivage(const QString &archive)
    : m_chemin(archive + QLatin1Char('/') + FichierArchive::nomEtat())
{
}

bool EtatArchivage::charger()
{
    m_noms.clear();
    QFile fichier(m_chemin);
    if (!fichier.exists())
        return true;
    if (!fichier.open(QIODevice::ReadOnly)) {
        m_erreur = fichier.errorString();
        return false;
    }
    const QList<QByteArray> lignes = fichier.readAll().split('\n');
    for (const QByteArray &ligne : lignes) {
        if (!ligne.isEmpty())
            m_noms.insert(QString::fromUtf8(ligne));
    }
    return true;
}

bool EtatArchivage::enregistrer(const QSet<QString> &gardes)
{
    QStringList noms;
    for (const QString &nom : qAsConst(m_noms)) {
        if (gardes.contains(nom))
            noms.append(nom);
    }
    std::sort(noms.begin(), noms.end());
    QByteArray contenu;
    for (const QString &nom : qAsConst(noms))
        contenu += nom.toUtf8() + '\n';

    const QString temporaire = m_chemin + QStringLiteral(".tmp");
    QFile fichier(temporaire);
    if (!fichier.open(QIODevice::WriteOnly | QIODevice::Truncate) || fichier.write(contenu) != contenu.size()
        || !fichier.flush() || ::fsync(fichier.handle()) != 0) {
        m_erreur = fichier.errorString().isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : fichier.errorString();
        fichier.close();
        QFile::remove(temporaire);
        return false;
    }
    fichier.close();
    if (std::rename(QFile::encodeName(temporaire).constData(), QFile::encodeName(m_chemin).constData()) != 0) {
        m_erreur = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temporaire);
        return false;
    }
    synchroniserDossier(QFileInfo(m_chemin).absolutePath());
    m_noms = QSet<QString>(noms.begin(), noms.end());
    return true;
}
