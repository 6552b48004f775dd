// SPDX-License-Identifier: MIT
#include "SignataireRapports.h"

#include "SignatureRapport.h"

bool SignataireRapports::choisir(const FichierCles::Cles &cles, const QString &nom, SignataireRapports &signataire,
                                 QString &erreur)
{
    const auto siennes = cles.constFind(nom);
    if (siennes == cles.constEnd() || siennes->isEmpty()) {
        erreur = QStringLiteral("aucune clé pour « %1 » (les rapports portent ce nom)").arg(nom);
        return false;
    }
    signataire = SignataireRapports(siennes->last());
    return true;
}

void SignataireRapports::signer(QByteArray &datagramme, qint64 maintenant)
{
    m_dernier = qMax(maintenant, m_dernier + 1);
    SignatureRapport::signer(datagramme, *m_cle, m_dernier);
}
