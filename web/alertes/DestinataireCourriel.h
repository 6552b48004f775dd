// SPDX-License-Identifier: MIT
#ifndef DESTINATAIRECOURRIEL_H
#define DESTINATAIRECOURRIEL_H

#include "Destinataire.h"

#include <QProcess>
#include <QTimer>

// Mail through the local `sendmail -t`, as cron and smartd send theirs:
// one mail per change, the program's exit status its success.
class DestinataireCourriel : public Destinataire
{
    Q_OBJECT

public:
    static constexpr int delaiEnvoi = 60000;

    DestinataireCourriel(const QString &adresse, const QString &sendmail, const QString &urlExterne,
                         QObject *parent = nullptr);
    // A mail under way is given a few seconds to go.
    ~DestinataireCourriel() override;

protected:
    QByteArray message(const QVector<NotificationAlerte> &alertes) const override;
    void transmettre(const QByteArray &corps) override;

private:
    void fini(int code, QProcess::ExitStatus statut);

    QString m_adresse;
    QString m_sendmail;
    QString m_urlExterne;
    QProcess m_processus;
    QTimer m_delai;
    bool m_depasse = false;
};

#endif
