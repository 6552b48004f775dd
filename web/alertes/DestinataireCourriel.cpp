// SPDX-License-Identifier: MIT
#include "DestinataireCourriel.h"

#include "MessagesAlertes.h"

DestinataireCourriel::DestinataireCourriel(const QString &adresse, const QString &sendmail, const QString &urlExterne,
                                           QObject *parent)
    : Destinataire(QStringLiteral("courriel %1").arg(adresse), parent)
    , m_adresse(adresse)
    , m_sendmail(sendmail)
    , m_urlExterne(urlExterne)
{
    m_processus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_processus.setStandardOutputFile(QProcess::nullDevice());
    m_delai.setSingleShot(true);
    connect(&m_processus, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &DestinataireCourriel::fini);
    connect(&m_processus, &QProcess::errorOccurred, this, [this](QProcess::ProcessError erreur) {
        if (erreur == QProcess::FailedToStart)
            terminer(Echoue, QStringLiteral("%1 : %2").arg(m_sendmail, m_processus.errorString()));
    });
    connect(&m_delai, &QTimer::timeout, this, [this]() {
        m_depasse = true;
        m_processus.kill();
    });
}

DestinataireCourriel::~DestinataireCourriel()
{
    m_processus.disconnect(this);
    if (m_processus.state() != QProcess::NotRunning && !m_processus.waitForFinished(5000)) {
        m_processus.kill();
        m_processus.waitForFinished(1000);
    }
}

QByteArray DestinataireCourriel::message(const QVector<NotificationAlerte> &alertes) const
{
    return MessagesAlertes::courriel(alertes, m_adresse, m_urlExterne);
}

void DestinataireCourriel::transmettre(const QByteArray &corps)
{
    m_depasse = false;
    // -oi: a line with a lone dot does not end the mail.
    m_processus.start(m_sendmail, {QStringLiteral("-t"), QStringLiteral("-oi")});
    if (!m_processus.waitForStarted(5000))
        return; // errorOccurred told it
    m_processus.write(corps);
    m_processus.closeWriteChannel();
    m_delai.start(delaiEnvoi);
}

void DestinataireCourriel::fini(int code, QProcess::ExitStatus statut)
{
    m_delai.stop();
    if (m_depasse)
        terminer(Echoue, QStringLiteral("%1 n'a pas fini en %2 s").arg(m_sendmail).arg(delaiEnvoi / 1000));
    else if (statut != QProcess::NormalExit)
        terminer(Echoue, QStringLiteral("%1 s'est arrêté brutalement").arg(m_sendmail));
    else if (code != 0)
        terminer(Echoue, QStringLiteral("%1 a fini avec le code %2").arg(m_sendmail).arg(code));
    else
        terminer(Remis);
}
