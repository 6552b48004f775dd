// SPDX-License-Identifier: MIT
#ifndef DESTINATAIRE_H
#define DESTINATAIRE_H

#include "NotificationAlerte.h"

#include <QByteArrayList>
#include <QObject>
#include <QTimer>
#include <QVector>

// One receiver of notifications: its messages wait in order and go one at
// a time; one that fails is tried again after a wait that doubles up to
// five minutes, so a receiver that is down is neither flooded nor lost.
// One console line when it goes down and one when it comes back, never
// one per try.
class Destinataire : public QObject
{
    Q_OBJECT

public:
    static constexpr int attenteInitiale = 1000;
    static constexpr int attenteMaximale = 300000;
    // Past this, the oldest message waiting is given up, with one line.
    static constexpr int fileMaximale = 10000;

    enum Issue { Remis, Echoue, Refuse };

    explicit Destinataire(const QString &nom, QObject *parent = nullptr);

    QString nom() const { return m_nom; }
    // Tells the receiver of these changes.
    void notifier(const QVector<NotificationAlerte> &alertes);
    // Reminds it of the alerts still firing, for a receiver that forgets
    // them otherwise; nothing by default.
    virtual void rappeler(const QVector<NotificationAlerte> &enCours);

    // What still waits, kept across a restart.
    QByteArrayList file() const { return m_file; }
    void restaurer(const QByteArrayList &file);

    quint64 remises() const { return m_remises; }
    quint64 echecs() const { return m_echecs; }
    int enAttente() const { return m_file.size(); }
    bool enPanne() const { return m_enPanne; }

signals:
    void fileChangee();

protected:
    virtual QByteArray message(const QVector<NotificationAlerte> &alertes) const = 0;
    // Sends `corps` and calls terminer() once, later.
    virtual void transmettre(const QByteArray &corps) = 0;
    void terminer(Issue issue, const QString &erreur = QString());
    void deposer(const QByteArray &corps);
    bool occupe() const { return m_occupe || !m_file.isEmpty(); }

private:
    void essayer();

    QString m_nom;
    QByteArrayList m_file;
    QTimer m_attente;
    int m_delai = attenteInitiale;
    bool m_occupe = false;
    bool m_enPanne = false;
    bool m_debordement = false;
    quint64 m_essaisManques = 0;
    quint64 m_remises = 0;
    quint64 m_echecs = 0;
};

#endif
