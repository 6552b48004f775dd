// SPDX-License-Identifier: MIT
#ifndef COMPTESHTTP_H
#define COMPTESHTTP_H

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

// The dashboard's users, read from a file of `nom:empreinte` lines in
// crypt(3) form (yescrypt $y$, bcrypt $2a$/$2b$/$2y$), and the check of a
// name and password against them. A hash costs tens of milliseconds, paid
// again by every request a page makes: a right pair is remembered as a keyed
// hash (HMAC-SHA256 under a key drawn for this process), never in clear.
class ComptesHttp
{
public:
    enum Issue { Accepte, MotDePasseFaux, UtilisateurInconnu };

    // Pairs remembered at most; past that the memory starts again empty.
    static constexpr int memoireMaximum = 4096;

    // False with `erreur` ("FICHIER, ligne N : why" or "FICHIER : why").
    bool lire(const QString &chemin, QString &erreur);
    int nombre() const { return m_empreintes.size(); }
    bool connu(const QString &nom) const { return m_empreintes.contains(nom); }

    // Thread-safe.
    Issue verifier(const QString &nom, const QByteArray &motDePasse) const;

    static bool empreinteValide(const QByteArray &empreinte);
    // crypt(3) of `motDePasse` with `empreinte` as its setting, compared in
    // constant time.
    static bool correspond(const QByteArray &motDePasse, const QByteArray &empreinte);

private:
    QByteArray cle(const QString &nom, const QByteArray &motDePasse, const QByteArray &empreinte) const;

    QHash<QString, QByteArray> m_empreintes;
    // Hashed for an unknown name too, so that its answer takes as long.
    QByteArray m_leurre;
    QByteArray m_secret;
    mutable QMutex m_mutex;
    mutable QSet<QByteArray> m_memoire;
};

#endif
