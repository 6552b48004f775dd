// SPDX-License-Identifier: MIT
#ifndef CONFIGURATIONTLS_H
#define CONFIGURATIONTLS_H

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdarg>

struct MHD_OptionItem;

// The server's certificate and key, as libmicrohttpd takes them, and what
// it says while it starts: GnuTLS's reason for turning a certificate or key
// down is only ever in that log.
class ConfigurationTls
{
public:
    // PEM certificate chain and key: HTTPS only.
    void fixer(const QByteArray &certificat, const QByteArray &cle);
    bool active() const { return m_active; }
    // After a failed start: libmicrohttpd turned the certificate or key down.
    bool refusee() const { return m_refusee; }

    // What to add to the daemon's flags, and its options, ended by
    // MHD_OPTION_END, valid while this object is unchanged.
    unsigned drapeaux() const;
    QVector<MHD_OptionItem> options() const;

    void commencerDemarrage();
    // `erreurSysteme` is errno just after the start, `demarre` whether it
    // succeeded; on failure, `erreur` gets the reason to show.
    void finirDemarrage(bool demarre, int erreurSysteme, QString *erreur);

    // libmicrohttpd's logger, with this object as its closure.
    static void journal(void *configuration, const char *format, va_list arguments);

private:
    void ajouterJournal(const QString &ligne);

    QByteArray m_certificat;
    QByteArray m_cle;
    bool m_active = false;
    bool m_refusee = false;
    QMutex m_mutex;
    // libmicrohttpd's own messages while it starts; later ones are dropped.
    QStringList m_journalDemarrage;
    bool m_demarrage = false;
};

#endif
