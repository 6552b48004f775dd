// SPDX-License-Identifier: MIT
#ifndef AFFICHEUR_H
#define AFFICHEUR_H

#include "LecteurTrames.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>

struct ParametresAfficheur
{
    QString hote = QStringLiteral("127.0.0.1");
    quint16 port = 56000;
    bool brut = false;
    bool silencieux = false;
    qint64 nombre = 0; // frames after which to stop, 0: no limit
};

// A display client: reads the collector's frames and prints each report,
// raw or as one readable line, or only counts them.
class Afficheur : public QObject
{
    Q_OBJECT

public:
    enum Code { Succes = 0, ConnexionEchouee = 1, Usage = 2, TrameInvalide = 3 };

    explicit Afficheur(const ParametresAfficheur &parametres, QObject *parent = nullptr);

    void demarrer();

public slots:
    // Ends the client with success, after its count.
    void arreter();

signals:
    void termine(int code);

private slots:
    void connecte();
    void lire();
    void deconnecte();
    void erreurSocket(QAbstractSocket::SocketError erreur);

private:
    void terminer(Code code, const QString &message = QString());

    ParametresAfficheur m_parametres;
    QTcpSocket m_socket;
    LecteurTrames m_lecteur;
    QElapsedTimer m_chrono;
    qint64 m_recues = 0;
    bool m_connecte = false;
    bool m_fini = false;
};

#endif
