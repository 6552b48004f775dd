// SPDX-License-Identifier: MIT
#include "ControleAcces.h"

#include "Console.h"

#include <QMutexLocker>

const char *const ControleAcces::domaine = "Basic realm=\"collecteur\", charset=\"UTF-8\"";

ControleAcces::ControleAcces(const Horloge &horloge)
    : m_horloge(horloge)
{
}

bool ControleAcces::lire(const QString &chemin, QString &erreur)
{
    auto comptes = std::make_shared<ComptesHttp>();
    if (!comptes->lire(chemin, erreur))
        return false;
    QMutexLocker verrou(&m_mutex);
    m_chemin = chemin;
    m_comptes = comptes;
    return true;
}

QString ControleAcces::relire()
{
    QString erreur;
    auto comptes = std::make_shared<ComptesHttp>();
    if (!comptes->lire(m_chemin, erreur))
        return QStringLiteral("Utilisateurs non relus, ceux en vigueur sont gardés : %1.").arg(erreur);
    QMutexLocker verrou(&m_mutex);
    m_comptes = comptes;
    return QStringLiteral("Utilisateurs relus dans %1 : %2.").arg(m_chemin).arg(comptes->nombre());
}

QString ControleAcces::resume() const
{
    QMutexLocker verrou(&m_mutex);
    const int nombre = m_comptes ? m_comptes->nombre() : 0;
    const QString qui = nombre == 1 ? QStringLiteral("à l'utilisateur") : QStringLiteral("aux %1 utilisateurs").arg(nombre);
    return QStringLiteral("Accès réservé %1 de %2, %3.")
        .arg(qui, m_chemin,
             m_metriquesLibres ? QStringLiteral("sauf /metrics (--metriques-libres)") : QStringLiteral("/metrics compris"));
}

ReponseHttp ControleAcces::identifier()
{
    ReponseHttp reponse = ReponseHttp::texte(401, QStringLiteral("Identification requise."));
    reponse.entetes.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray(domaine)));
    return reponse;
}

ReponseHttp ControleAcces::bloquer(qint64 attente)
{
    const qint64 secondes = (attente + 999) / 1000;
    ReponseHttp reponse = ReponseHttp::texte(429, QStringLiteral("Trop d'échecs d'identification depuis cette adresse : "
                                                                 "nouvel essai possible dans %1 s.")
                                                      .arg(secondes));
    reponse.entetes.append(qMakePair(QByteArray("Retry-After"), QByteArray::number(secondes)));
    return reponse;
}

bool ControleAcces::autoriser(const QString &chemin, const QByteArray &autorisation, const QString &adresse,
                              ReponseHttp &refus)
{
    if (m_metriquesLibres && chemin == QLatin1String("/metrics"))
        return true;
    std::shared_ptr<const ComptesHttp> comptes;
    {
        QMutexLocker verrou(&m_mutex);
        const qint64 attente = m_echecs.attente(adresse, m_horloge());
        if (attente > 0) {
            refus = bloquer(attente);
            return false;
        }
        comptes = m_comptes;
    }
    if (!comptes)
        return true;
    if (autorisation.isEmpty()) {
        refus = identifier();
        return false;
    }

    QString motif;
    const int espace = autorisation.indexOf(' ');
    const auto decode = QByteArray::fromBase64Encoding(autorisation.mid(espace + 1).trimmed(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    const int deuxPoints = decode.decoded.indexOf(':');
    if (espace <= 0 || autorisation.left(espace).toLower() != "basic" || !decode || deuxPoints < 0) {
        motif = QStringLiteral("en-tête Authorization illisible");
    } else {
        const QString nom = QString::fromUtf8(decode.decoded.left(deuxPoints));
        switch (comptes->verifier(nom, decode.decoded.mid(deuxPoints + 1))) {
        case ComptesHttp::Accepte:
            return true;
        case ComptesHttp::MotDePasseFaux:
            motif = QStringLiteral("mot de passe faux pour « %1 »").arg(nom);
            break;
        case ComptesHttp::UtilisateurInconnu:
            // What was typed as a name may be a password: never written.
            motif = QStringLiteral("utilisateur inconnu");
            break;
        }
    }

    QStringList lignes;
    qint64 attente = 0;
    {
        QMutexLocker verrou(&m_mutex);
        const qint64 maintenant = m_horloge();
        lignes = m_echecs.echec(adresse, motif, maintenant);
        attente = m_echecs.attente(adresse, maintenant);
    }
    for (const QString &ligne : qAsConst(lignes))
        Console::erreur(ligne);
    refus = attente > 0 ? bloquer(attente) : identifier();
    return false;
}

void ControleAcces::journaliser()
{
    QStringList lignes;
    {
        QMutexLocker verrou(&m_mutex);
        lignes = m_echecs.journaliser(m_horloge());
    }
    for (const QString &ligne : qAsConst(lignes))
        Console::erreur(ligne);
}
