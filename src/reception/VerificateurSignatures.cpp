// SPDX-License-Identifier: MIT
#include "VerificateurSignatures.h"

#include "ClesJson.h"
#include "ClesRapport.h"
#include "DatagrammeRapport.h"
#include "LectureJson.h"
#include "SignatureRapport.h"

#include <QJsonObject>

VerificateurSignatures::VerificateurSignatures(const FichierCles::Cles &cles, qint64 deriveMaxMs, qint64 periodeLignesMs)
    : m_derive(deriveMaxMs * 1000)
    , m_periode(periodeLignesMs)
{
    for (auto it = cles.constBegin(); it != cles.constEnd(); ++it) {
        for (const QByteArray &cle : it.value())
            m_cles[it.key()].push_back(std::make_shared<const CodeMac>(cle));
    }
}

bool VerificateurSignatures::verifier(const QByteArray &datagramme, const QString &texte, qint64 maintenant,
                                      Raison &raison)
{
    const SignatureRapport::Lue signature = SignatureRapport::lire(datagramme);
    if (!signature.presente) {
        raison = SansSignature;
        return false;
    }
    // The name as the store will read it, so that a report cannot be
    // signed as one host and stored as another; the text is parsed only when
    // a quick look cannot be sure of it.
    static const QByteArray cleNom = QByteArray(ClesRapport::nom.data(), ClesRapport::nom.size());
    QByteArray lu;
    const QString hote = ClesJson::texteRacine(datagramme.constData() + DatagrammeRapport::tailleEntete, int(texte.size()),
                                               cleNom, lu)
                             ? QString::fromLatin1(lu)
                             : LectureJson::lireRapport(texte).object().value(ClesRapport::nom).toString();
    const auto cles = m_cles.constFind(hote);
    if (hote.isEmpty() || cles == m_cles.constEnd()) {
        raison = HoteSansCle;
        return false;
    }
    bool verifiee = false;
    for (const auto &cle : *cles)
        verifiee = SignatureRapport::verifier(signature, *cle) || verifiee;
    if (!verifiee) {
        raison = SignatureFausse;
        return false;
    }
    if (signature.horodatage < maintenant - m_derive) {
        raison = TropAncienne;
        return false;
    }
    if (signature.horodatage > maintenant + m_derive) {
        raison = TropEnAvance;
        return false;
    }
    qint64 &dernier = m_derniers[hote];
    if (signature.horodatage <= dernier) {
        raison = Rejouee;
        return false;
    }
    dernier = signature.horodatage;
    return true;
}

QString VerificateurSignatures::nomRaison(Raison raison)
{
    switch (raison) {
    case SansSignature: return QStringLiteral("sans signature");
    case HoteSansCle: return QStringLiteral("hôte sans clé");
    case SignatureFausse: return QStringLiteral("signature fausse");
    case Rejouee: return QStringLiteral("déjà reçu");
    case TropAncienne: return QStringLiteral("trop ancien");
    case TropEnAvance: return QStringLiteral("daté du futur");
    case NombreRaisons: break;
    }
    return QString();
}

QString VerificateurSignatures::ligne(const QString &expediteur, Raison raison, quint64 nombre)
{
    return QStringLiteral("%1 : %2 rapport(s) refusé(s), %3.").arg(expediteur).arg(nombre).arg(nomRaison(raison));
}

QStringList VerificateurSignatures::refuser(const QString &expediteur, Raison raison, qint64 maintenant)
{
    ++m_refusees[raison];
    QStringList lignes;
    const auto cle = qMakePair(expediteur, int(raison));
    const auto suivi = m_suivis.find(cle);
    if (suivi != m_suivis.end()) {
        ++suivi->retenues;
        return lignes;
    }
    if (m_suivis.size() < expediteursSuivis)
        m_suivis.insert(cle, Suivi{maintenant, 0});
    lignes.append(ligne(expediteur, raison, 1));
    return lignes;
}

QStringList VerificateurSignatures::lignesDues(qint64 maintenant)
{
    QStringList lignes;
    for (auto it = m_suivis.begin(); it != m_suivis.end();) {
        if (maintenant - it->ligne < m_periode) {
            ++it;
            continue;
        }
        if (it->retenues == 0) {
            it = m_suivis.erase(it);
            continue;
        }
        lignes.append(ligne(it.key().first, Raison(it.key().second), it->retenues));
        it->ligne = maintenant;
        it->retenues = 0;
        ++it;
    }
    return lignes;
}
