// SPDX-License-Identifier: MIT
#include "EtatFlotte.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A day either side of the reception: beyond, the agent's clock is wrong and
// the chart would be unreadable, so the reception time is drawn instead.
constexpr double ecartHorlogeMaximum = 86400;

QJsonValue json(double valeur)
{
    return std::isfinite(valeur) ? QJsonValue(valeur) : QJsonValue();
}

QByteArray compact(const QJsonObject &objet)
{
    return QJsonDocument(objet).toJson(QJsonDocument::Compact);
}

QJsonArray listeVMs(const RapportHyperviseur &rapport)
{
    QJsonArray liste;
    for (const RapportVM &vm : rapport.vms) {
        QJsonObject objet{{QStringLiteral("nom"), vm.nom},
                          {ClesRapport::uuid, vm.uuid},
                          {QStringLiteral("etat"), vm.etat >= 0 ? QJsonValue(vm.etat) : QJsonValue()}};
        for (const auto &champ : champsVM)
            objet.insert(champ.cle, json(vm.*champ.valeur));
        liste.append(objet);
    }
    return liste;
}

} // namespace

EtatFlotte::EtatFlotte(qint64 fenetreMs)
    : m_fenetre(fenetreMs)
{
}

qint64 EtatFlotte::ajouter(const RapportHyperviseur &rapport, qint64 maintenant)
{
    HoteFlotte &hote = m_hotes[rapport.nom];
    if (hote.recu > 0 && maintenant > hote.recu) {
        // A smoothed gap, so that one late report does not reset the rule.
        const qint64 ecart = maintenant - hote.recu;
        hote.intervalle = hote.intervalle == 0 ? ecart : (3 * hote.intervalle + ecart) / 4;
    }
    hote.recu = maintenant;
    hote.dernier = rapport;

    PointFenetre point;
    point.recu = maintenant;
    const double recuSecondes = double(maintenant) / 1000.0;
    point.t = std::isfinite(rapport.time) && std::fabs(rapport.time - recuSecondes) <= ecartHorlogeMaximum
                  ? rapport.time
                  : recuSecondes;
    for (size_t i = 0; i < point.mesures.size(); ++i)
        point.mesures[i] = rapport.*champsHyperviseur[i].valeur;
    hote.fenetre.push_back(point);
    while (!hote.fenetre.empty() && hote.fenetre.front().recu < maintenant - m_fenetre)
        hote.fenetre.pop_front();

    m_modifies.insert(rapport.nom);
    m_oublies.removeAll(rapport.nom);
    return suivantePublication(hote);
}

qint64 EtatFlotte::suivantePublication(const HoteFlotte &hote)
{
    return (hote.publie / periodeHote + 1) * periodeHote;
}

bool EtatFlotte::silencieux(const HoteFlotte &hote, qint64 maintenant) const
{
    const qint64 intervalle = hote.intervalle > 0 ? hote.intervalle : intervalleParDefaut;
    return maintenant - hote.recu > intervallesManques * qMax<qint64>(intervalle, 1000);
}

QByteArray EtatFlotte::resume(const HoteFlotte &hote, qint64 maintenant) const
{
    const RapportHyperviseur &r = hote.dernier;
    int actives = 0;
    for (const RapportVM &vm : r.vms)
        actives += vm.etat == 1 ? 1 : 0;
    QJsonObject objet{{QStringLiteral("nom"), r.nom},
                      {ClesRapport::temps, json(r.time)},
                      {QStringLiteral("recu"), double(hote.recu)},
                      {QStringLiteral("intervalle"), double(hote.intervalle > 0 ? hote.intervalle : intervalleParDefaut)},
                      {QStringLiteral("silencieux"), silencieux(hote, maintenant)},
                      {QStringLiteral("vmsActives"), actives},
                      {QStringLiteral("vms"), int(r.vms.size()) + r.vmsIgnorees}};
    for (const auto &champ : champsHyperviseur)
        objet.insert(champ.cle, json(r.*champ.valeur));
    return compact(objet);
}

EtatFlotte::Publication EtatFlotte::publier(qint64 maintenant)
{
    for (auto it = m_hotes.begin(); it != m_hotes.end();) {
        if (it->recu < maintenant - m_fenetre) {
            m_oublies.append(it.key());
            m_modifies.remove(it.key());
            it = m_hotes.erase(it);
        } else {
            ++it;
        }
    }

    Publication publication;
    if (m_modifies.isEmpty() && m_oublies.isEmpty())
        return publication;
    // Summaries are already JSON text: they are joined, not parsed again.
    QByteArray hotes = "[";
    for (auto it = m_modifies.begin(); it != m_modifies.end();) {
        HoteFlotte &hote = m_hotes[*it];
        if (maintenant < suivantePublication(hote)) {
            ++it;
            continue;
        }
        hote.publie = maintenant;
        if (hotes.size() > 1)
            hotes += ',';
        hotes += resume(hote, maintenant);
        publication.vms.insert(*it, vms(*it));
        it = m_modifies.erase(it);
    }
    hotes += ']';
    if (hotes.size() == 2 && m_oublies.isEmpty())
        return publication;
    publication.maj = "{\"maintenant\":" + QByteArray::number(maintenant) + ",\"hotes\":" + hotes
                      + ",\"oublies\":" + QJsonDocument(QJsonArray::fromStringList(m_oublies)).toJson(QJsonDocument::Compact) + '}';
    m_oublies.clear();
    return publication;
}

qint64 EtatFlotte::prochainePublication() const
{
    qint64 prochaine = -1;
    const auto auPlusTot = [&prochaine](qint64 instant) {
        if (prochaine < 0 || instant < prochaine)
            prochaine = instant;
    };
    for (const QString &nom : m_modifies)
        auPlusTot(suivantePublication(*m_hotes.constFind(nom)));
    for (const HoteFlotte &hote : m_hotes)
        auPlusTot(hote.recu + m_fenetre + 1);
    return prochaine;
}

QByteArray EtatFlotte::instantane(qint64 maintenant, bool connecte) const
{
    QByteArray hotes = "[";
    for (const HoteFlotte &hote : m_hotes) {
        if (hotes.size() > 1)
            hotes += ',';
        hotes += resume(hote, maintenant);
    }
    hotes += ']';
    return "{\"maintenant\":" + QByteArray::number(maintenant) + ",\"connecte\":" + (connecte ? "true" : "false")
           + ",\"fenetre\":" + QByteArray::number(m_fenetre) + ",\"hotes\":" + hotes + '}';
}

QByteArray EtatFlotte::vms(const QString &nom) const
{
    const auto hote = m_hotes.constFind(nom);
    if (hote == m_hotes.constEnd())
        return QByteArray();
    return compact(QJsonObject{{QStringLiteral("nom"), nom}, {QStringLiteral("vms"), listeVMs(hote->dernier)}});
}

QByteArray EtatFlotte::detail(const QString &nom, qint64 maintenant) const
{
    const auto hote = m_hotes.constFind(nom);
    if (hote == m_hotes.constEnd())
        return QByteArray();
    QJsonArray t;
    std::array<QJsonArray, std::size(champsHyperviseur)> series;
    for (const PointFenetre &point : hote->fenetre) {
        t.append(point.t);
        for (size_t i = 0; i < series.size(); ++i)
            series[i].append(json(point.mesures[i]));
    }
    QJsonObject fenetre{{QStringLiteral("t"), t}};
    for (size_t i = 0; i < series.size(); ++i)
        fenetre.insert(champsHyperviseur[i].cle, series[i]);
    return compact(QJsonObject{{QStringLiteral("resume"), QJsonDocument::fromJson(resume(*hote, maintenant)).object()},
                               {QStringLiteral("fenetre"), fenetre},
                               {QStringLiteral("vms"), listeVMs(hote->dernier)}});
}
