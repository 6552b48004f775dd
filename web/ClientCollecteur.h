// SPDX-License-Identifier: MIT
#ifndef CLIENTCOLLECTEUR_H
#define CLIENTCOLLECTEUR_H

#include "LecteurTrames.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// The dashboard's link to the collector's display port: reads the frames,
// hands each report's text on, and reconnects after 1 s, then 2, 4... up to
// 30 s between attempts. One console line per change of state, never one
// per attempt.
class ClientCollecteur : public QObject
{
    Q_OBJECT

public:
    static constexpr int delaiInitial = 1000;
    static constexpr int delaiMaximum = 30000;

    ClientCollecteur(const QString &hote, quint16 port, QObject *parent = nullptr);
    ~ClientCollecteur() override;

    void demarrer();
    bool estConnecte() const { return m_connecte; }
    quint64 trames() const { return m_trames; }
    quint64 reconnexions() const { return m_reconnexions; }
    // The wait before the next attempt, ms (for tests).
    int delaiSuivant() const { return m_delai; }

signals:
    void rapportRecu(const QString &texte);
    void connexionChangee(bool connecte);

private slots:
    void connecte();
    void lire();
    void perdue();
    void essayer();

private:
    void attendre(const QString &raison);
    QString adresse() const;

    QString m_hote;
    quint16 m_port;
    QTcpSocket m_socket;
    LecteurTrames m_lecteur;
    QTimer m_minuteur;
    int m_delai = delaiInitial;
    bool m_connecte = false;
    bool m_dejaConnecte = false;
    bool m_echecSignale = false;
    quint64 m_trames = 0;
    quint64 m_reconnexions = 0;
};

#endif
