// SPDX-License-Identifier: MIT
#ifndef CAPTUREERREURSTANDARD_H
#define CAPTUREERREURSTANDARD_H

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Sends this process's standard error to a file while it lives, so that a
// test can compare the plain console lines a library writes with the
// exact texts; they are written out again at the end.
class CaptureErreurStandard
{
public:
    CaptureErreurStandard()
    {
        m_fichier.open();
        std::fflush(stderr);
        m_avant = ::dup(STDERR_FILENO);
        ::dup2(m_fichier.handle(), STDERR_FILENO);
    }
    ~CaptureErreurStandard()
    {
        restaurer();
        const QByteArray texte = lu();
        std::fwrite(texte.constData(), 1, size_t(texte.size()), stderr);
    }
    CaptureErreurStandard(const CaptureErreurStandard &) = delete;
    CaptureErreurStandard &operator=(const CaptureErreurStandard &) = delete;

    QStringList lignes()
    {
        QStringList liste = QString::fromLocal8Bit(lu()).split(QLatin1Char('\n'));
        liste.removeAll(QString());
        return liste;
    }

private:
    QByteArray lu()
    {
        std::fflush(stderr);
        QFile lecture(m_fichier.fileName());
        return lecture.open(QIODevice::ReadOnly) ? lecture.readAll() : QByteArray();
    }
    void restaurer()
    {
        if (m_avant < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_avant, STDERR_FILENO);
        ::close(m_avant);
        m_avant = -1;
    }

    QTemporaryFile m_fichier;
    int m_avant = -1;
};

#endif
