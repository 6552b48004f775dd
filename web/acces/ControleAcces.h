// SPDX-License-Identifier: MIT
#ifndef CONTROLEACCES_H
#define CONTROLEACCES_H

#include "ComptesHttp.h"
#include "LimiteEchecs.h"
#include "ServeurHttp.h"

#include <QMutex>
#include <QString>

#include <functional>
#include <memory>

// HTTP basic authentication in front of every route: 401 without a right
// name and password, 429 for an address with too many failures. Called from
// the server's polling thread: a hash that is not remembered is computed
// there, so the failures an address may make (LimiteEchecs) bound how long
// it can hold that thread: eleven hashes a minute, under a second for yescrypt.
class ControleAcces
{
public:
    using Horloge = std::function<qint64()>;
    static const char *const domaine;

    explicit ControleAcces(const Horloge &horloge);

    // The users file, at start: false with `erreur`.
    bool lire(const QString &chemin, QString &erreur);
    // Read again (SIGHUP): the line that tells how it went. A bad file
    // keeps the users in force.
    QString relire();
    QString resume() const;
    void fixerMetriquesLibres(bool libres) { m_metriquesLibres = libres; }

    // True to let the request through; otherwise `refus` is the answer.
    // Thread-safe.
    bool autoriser(const QString &chemin, const QByteArray &autorisation, const QString &adresse, ReponseHttp &refus);
    // Tells of the failures not yet told, now and then.
    void journaliser();

private:
    static ReponseHttp identifier();
    static ReponseHttp bloquer(qint64 attente);

    Horloge m_horloge;
    QString m_chemin;
    bool m_metriquesLibres = false;
    mutable QMutex m_mutex;
    std::shared_ptr<const ComptesHttp> m_comptes;
    LimiteEchecs m_echecs;
};

#endif
