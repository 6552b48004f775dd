// SPDX-License-Identifier: MIT
#include "ComptesHttp.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <crypt.h>

#include <memory>

namespace {

bool egauxTempsConstant(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

} // namespace

bool ComptesHttp::empreinteValide(const QByteArray &empreinte)
{
    if (crypt_checksalt(empreinte.constData()) != CRYPT_SALT_OK)
        return false;
    if (empreinte.startsWith("$y$")) {
        const QList<QByteArray> champs = empreinte.split('$');
        return champs.size() == 5 && !champs.at(2).isEmpty() && !champs.at(3).isEmpty() && !champs.at(4).isEmpty();
    }
    // $2?$NN$ then 22 characters of salt and 31 of hash.
    return (empreinte.startsWith("$2a$") || empreinte.startsWith("$2b$") || empreinte.startsWith("$2y$"))
           && empreinte.size() == 60;
}

bool ComptesHttp::correspond(const QByteArray &motDePasse, const QByteArray &empreinte)
{
    // About 32 KiB: on the heap, not on the server thread's stack.
    auto donnees = std::make_unique<crypt_data>();
    const char *calculee = crypt_rn(motDePasse.constData(), empreinte.constData(), donnees.get(), int(sizeof(crypt_data)));
    return calculee && calculee[0] != '*' && egauxTempsConstant(QByteArray(calculee), empreinte);
}

bool ComptesHttp::lire(const QString &chemin, QString &erreur)
{
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::ReadOnly)) {
        erreur = QStringLiteral("%1 : %2").arg(chemin, fichier.errorString());
        return false;
    }
    QHash<QString, QByteArray> empreintes;
    int numero = 0;
    while (!fichier.atEnd()) {
        ++numero;
        const QByteArray ligne = fichier.readLine().trimmed();
        if (ligne.isEmpty() || ligne.startsWith('#'))
            continue;
        const auto refuser = [&](const QString &pourquoi) {
            erreur = QStringLiteral("%1, ligne %2 : %3").arg(chemin).arg(numero).arg(pourquoi);
            return false;
        };
        const int deuxPoints = ligne.indexOf(':');
        if (deuxPoints <= 0)
            return refuser(QStringLiteral("nom:empreinte attendu"));
        const QString nom = QString::fromUtf8(ligne.left(deuxPoints));
        const QByteArray empreinte = ligne.mid(deuxPoints + 1);
        if (nom.toUtf8() != ligne.left(deuxPoints) || nom.contains(QLatin1Char(' ')))
            return refuser(QStringLiteral("nom invalide"));
        if (!empreinteValide(empreinte))
            return refuser(QStringLiteral("empreinte non reconnue (yescrypt $y$ ou bcrypt $2b$ attendue)"));
        if (empreintes.contains(nom))
            return refuser(QStringLiteral("« %1 » déjà donné").arg(nom));
        empreintes.insert(nom, empreinte);
    }
    if (empreintes.isEmpty()) {
        erreur = QStringLiteral("%1 : aucun utilisateur").arg(chemin);
        return false;
    }
    m_empreintes = empreintes;
    m_leurre = empreintes.constBegin().value();
    QMutexLocker verrou(&m_mutex);
    m_memoire.clear();
    if (m_secret.isEmpty()) {
        m_secret.resize(32);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_secret.data()), 8);
    }
    return true;
}

QByteArray ComptesHttp::cle(const QString &nom, const QByteArray &motDePasse, const QByteArray &empreinte) const
{
    return QMessageAuthenticationCode::hash(nom.toUtf8() + '\0' + motDePasse + '\0' + empreinte, m_secret,
                                            QCryptographicHash::Sha256);
}

ComptesHttp::Issue ComptesHttp::verifier(const QString &nom, const QByteArray &motDePasse) const
{
    const auto trouve = m_empreintes.constFind(nom);
    // crypt(3) would stop at a NUL and accept what comes before it.
    if (motDePasse.contains('\0'))
        return trouve == m_empreintes.constEnd() ? UtilisateurInconnu : MotDePasseFaux;
    if (trouve == m_empreintes.constEnd()) {
        correspond(motDePasse, m_leurre);
        return UtilisateurInconnu;
    }
    const QByteArray memorisee = cle(nom, motDePasse, trouve.value());
    {
        QMutexLocker verrou(&m_mutex);
        if (m_memoire.contains(memorisee))
            return Accepte;
    }
    if (!correspond(motDePasse, trouve.value()))
        return MotDePasseFaux;
    QMutexLocker verrou(&m_mutex);
    if (m_memoire.size() >= memoireMaximum)
        m_memoire.clear();
    m_memoire.insert(memorisee);
    return Accepte;
}
