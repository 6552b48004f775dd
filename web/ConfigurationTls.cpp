// SPDX-License-Identifier: MIT
#include "ConfigurationTls.h"

#include <QMutexLocker>

#include <microhttpd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

void ConfigurationTls::fixer(const QByteArray &certificat, const QByteArray &cle)
{
    m_certificat = certificat;
    m_cle = cle;
    m_active = true;
}

unsigned ConfigurationTls::drapeaux() const
{
    return m_active ? unsigned(MHD_USE_TLS) : 0u;
}

QVector<MHD_OptionItem> ConfigurationTls::options() const
{
    if (!m_active)
        return {{MHD_OPTION_END, 0, nullptr}};
    // GnuTLS, inside libmicrohttpd, copies both at start.
    return {{MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(m_certificat.constData())},
            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(m_cle.constData())},
            {MHD_OPTION_END, 0, nullptr}};
}

void ConfigurationTls::commencerDemarrage()
{
    QMutexLocker verrou(&m_mutex);
    m_demarrage = true;
    m_journalDemarrage.clear();
}

void ConfigurationTls::finirDemarrage(bool demarre, int erreurSysteme, QString *erreur)
{
    QStringList journal;
    {
        QMutexLocker verrou(&m_mutex);
        m_demarrage = false;
        journal.swap(m_journalDemarrage);
    }
    if (demarre)
        return;
    // GnuTLS's reason comes first, then libmicrohttpd's summary.
    const auto ligneTls = std::find_if(journal.cbegin(), journal.cend(), [](const QString &ligne) {
        return ligne.contains(QLatin1String("x509")) || ligne.contains(QLatin1String("TLS"));
    });
    m_refusee = m_active && ligneTls != journal.cend();
    if (erreur) {
        *erreur = m_refusee ? *ligneTls : QString::fromLocal8Bit(std::strerror(erreurSysteme));
        if (erreur->endsWith(QLatin1Char('.')))
            erreur->chop(1);
    }
}

void ConfigurationTls::journal(void *configuration, const char *format, va_list arguments)
{
    // What made the start fail is read from errno afterwards.
    const int erreurSysteme = errno;
    char ligne[512];
    std::vsnprintf(ligne, sizeof ligne, format, arguments);
    static_cast<ConfigurationTls *>(configuration)->ajouterJournal(QString::fromLocal8Bit(ligne).trimmed());
    errno = erreurSysteme;
}

void ConfigurationTls::ajouterJournal(const QString &ligne)
{
    QMutexLocker verrou(&m_mutex);
    if (m_demarrage)
        m_journalDemarrage.append(ligne);
}
