// SPDX-License-Identifier: MIT
#include "LimiteEchecs.h"

#include <algorithm>

qint64 LimiteEchecs::attente(const QString &adresse, qint64 maintenant) const
{
    const auto suivi = m_adresses.constFind(adresse);
    if (suivi == m_adresses.constEnd())
        return 0;
    return qMax(qint64(0), suivi->bloqueeJusqua - maintenant);
}

QString LimiteEchecs::ligneComptee(const QString &adresse, const Suivi &suivi)
{
    if (suivi.nonSignales == 1)
        return QStringLiteral("Identification refusée depuis %1 : %2.").arg(adresse, suivi.dernierMotif);
    return QStringLiteral("Identification refusée depuis %1 : %2 échecs en une minute, le dernier : %3.")
        .arg(adresse)
        .arg(suivi.nonSignales)
        .arg(suivi.dernierMotif);
}

QStringList LimiteEchecs::echec(const QString &adresse, const QString &motif, qint64 maintenant)
{
    if (m_adresses.size() >= adressesMaximum && !m_adresses.contains(adresse))
        oublier(maintenant);
    Suivi &suivi = m_adresses[adresse];
    suivi.derniereActivite = maintenant;
    suivi.echecs.erase(std::remove_if(suivi.echecs.begin(), suivi.echecs.end(),
                                      [maintenant](qint64 instant) { return instant <= maintenant - fenetre; }),
                       suivi.echecs.end());
    suivi.echecs.append(maintenant);
    ++suivi.nonSignales;
    suivi.dernierMotif = motif;

    QStringList lignes;
    if (suivi.echecs.size() > echecsMaximum && suivi.bloqueeJusqua <= maintenant) {
        suivi.bloqueeJusqua = maintenant + blocage;
        lignes.append(QStringLiteral("Adresse %1 bloquée pendant %2 s : %3 échecs d'identification en une minute, "
                                     "le dernier : %4.")
                          .arg(adresse)
                          .arg(blocage / 1000)
                          .arg(suivi.echecs.size())
                          .arg(motif));
        suivi.echecs.clear();
        suivi.nonSignales = 0;
        return lignes;
    }
    if (!suivi.dejaSignalee || maintenant - suivi.dernierMessage >= fenetre) {
        lignes.append(ligneComptee(adresse, suivi));
        suivi.dejaSignalee = true;
        suivi.dernierMessage = maintenant;
        suivi.nonSignales = 0;
    }
    return lignes;
}

QStringList LimiteEchecs::journaliser(qint64 maintenant)
{
    QStringList lignes;
    for (auto it = m_adresses.begin(); it != m_adresses.end(); ++it) {
        if (it->nonSignales > 0 && maintenant - it->dernierMessage >= fenetre) {
            lignes.append(ligneComptee(it.key(), *it));
            it->dernierMessage = maintenant;
            it->nonSignales = 0;
        }
    }
    oublier(maintenant);
    return lignes;
}

void LimiteEchecs::oublier(qint64 maintenant)
{
    for (auto it = m_adresses.begin(); it != m_adresses.end();) {
        const bool calme = it->nonSignales == 0 && it->bloqueeJusqua <= maintenant
                           && maintenant - it->derniereActivite >= fenetre && maintenant - it->dernierMessage >= fenetre;
        it = calme ? m_adresses.erase(it) : std::next(it);
    }
}
