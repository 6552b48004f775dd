// SPDX-License-Identifier: MIT
#include "EvaluateurAlertes.h"

#include "EtatFlotte.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <tuple>

namespace {

template <typename Rapport, size_t N>
double mesure(const ChampMesure<Rapport> (&champs)[N], const QString &cle, const Rapport &rapport)
{
    const auto champ =
        std::find_if(std::begin(champs), std::end(champs), [&cle](const ChampMesure<Rapport> &c) { return c.cle == cle; });
    return champ != std::end(champs) ? rapport.*champ->valeur : valeurAbsente;
}

} // namespace

EvaluateurAlertes::EvaluateurAlertes(Horloge horloge, QObject *parent)
    : QObject(parent)
    , m_horloge(std::move(horloge))
{
    qRegisterMetaType<Alerte>();
}

void EvaluateurAlertes::appliquer(const JeuRegles &jeu)
{
    m_jeu = jeu;
    QSet<QString> actives;
    for (const Regle &regle : qAsConst(m_jeu.regles)) {
        if (regle.active)
            actives.insert(regle.nom);
    }
    const qint64 maintenant = m_horloge();
    for (Hote &hote : m_hotes)
        oublier(hote, [&actives](const Alerte &a) { return !actives.contains(a.alertname); }, maintenant);
    evaluer();
}

void EvaluateurAlertes::recevoir(const RapportHyperviseur &rapport, qint64 intervalle)
{
    const qint64 maintenant = m_horloge();
    Hote &hote = m_hotes[rapport.nom];
    hote.dernier = rapport;
    hote.recu = maintenant;
    hote.intervalle = intervalle;
    hote.rapporte = true;
    evaluerHote(hote, maintenant, true);
}

void EvaluateurAlertes::evaluer()
{
    const qint64 maintenant = m_horloge();
    for (Hote &hote : m_hotes)
        evaluerHote(hote, maintenant, false);
}

void EvaluateurAlertes::restaurer(const QVector<Alerte> &gardees)
{
    const qint64 maintenant = m_horloge();
    for (const Alerte &gardee : gardees) {
        const auto regle = std::find_if(m_jeu.regles.cbegin(), m_jeu.regles.cend(),
                                        [&gardee](const Regle &r) { return r.active && r.nom == gardee.alertname; });
        if (regle == m_jeu.regles.cend() || gardee.hyperviseur.isEmpty())
            continue;
        auto hote = m_hotes.find(gardee.hyperviseur);
        if (hote == m_hotes.end()) {
            hote = m_hotes.insert(gardee.hyperviseur, Hote());
            hote->dernier.nom = gardee.hyperviseur;
            // Its silence is judged from now, unless it was already silent.
            hote->recu = maintenant;
        }
        // It went silent a whole limit before it fired.
        if (regle->type == TypeRegle::HyperviseurInjoignable && std::isfinite(gardee.seuil))
            hote->recu = qMin(hote->recu, gardee.depuis - qint64(gardee.seuil * 1000));
        if (regle->type == TypeRegle::VmArretee)
            hote->vmsVues.insert(gardee.vm);
        suivi(*hote, *regle, gardee.vm).restaurer(gardee, *regle);
    }
}

void EvaluateurAlertes::evaluerHote(Hote &hote, qint64 maintenant, bool nouveau)
{
    const QString &nom = hote.dernier.nom;
    const bool silence = std::any_of(m_jeu.maintenances.cbegin(), m_jeu.maintenances.cend(),
                                     [&](const FenetreMaintenance &f) { return f.couvre(nom, maintenant); });
    const qint64 intervalle = hote.intervalle > 0 ? hote.intervalle : EtatFlotte::intervalleParDefaut;
    const qint64 limite = qMax(intervallesManques * intervalle, silenceMinimum);
    const bool injoignable = maintenant - hote.recu > limite;
    // Once a second for every host: most hosts have nothing the clock can change.
    const bool complet = nouveau || hote.conditionTenue || silence != hote.silence || injoignable != hote.injoignable;
    hote.silence = silence;
    hote.injoignable = injoignable;
    for (const Regle &regle : qAsConst(m_jeu.regles)) {
        if (!regle.active)
            continue;
        if (regle.type == TypeRegle::HyperviseurInjoignable) {
            noter(suivi(hote, regle, QString()), injoignable ? EtatAlerte::Critique : EtatAlerte::Ok,
                  double(maintenant - hote.recu) / 1000, maintenant, silence, nouveau, double(limite) / 1000);
            continue;
        }
        if (!complet)
            continue;
        // Held back while the host is silent: its last values are stale, and
        // one alert says it all.
        if (injoignable || !hote.rapporte) {
            // Its conditions were not seen to hold meanwhile: their durations
            // start again. Those of a host taken up from the kept state held
            // until the stop, and are judged again at its first report.
            if (injoignable) {
                for (SuiviAlerte &s : hote.suivis)
                    s.interrompre();
            }
            continue;
        }
        if (regle.type == TypeRegle::MesureHyperviseur) {
            evaluerSeuil(hote, regle, QString(), mesure(champsHyperviseur, regle.mesure, hote.dernier), maintenant,
                         silence, nouveau);
        } else if (regle.type == TypeRegle::MesureVm) {
            for (const RapportVM &vm : qAsConst(hote.dernier.vms))
                evaluerSeuil(hote, regle, vm.nom, mesure(champsVM, regle.mesure, vm), maintenant, silence, nouveau);
        } else {
            evaluerVms(hote, regle, maintenant, silence, nouveau);
        }
    }
    if (complet)
        hote.conditionTenue = std::any_of(hote.suivis.cbegin(), hote.suivis.cend(),
                                          [](const SuiviAlerte &s) { return s.conditionTenue(); });
    if (!nouveau || injoignable || !hote.rapporte)
        return;
    // A VM gone from the report takes its threshold alerts with it; most
    // reports name the same VMs as the one before.
    QStringList noms;
    noms.reserve(hote.dernier.vms.size());
    for (const RapportVM &vm : qAsConst(hote.dernier.vms))
        noms.append(vm.nom);
    if (noms == hote.nomsVms)
        return;
    hote.nomsVms = noms;
    const QSet<QString> presentes(noms.cbegin(), noms.cend());
    oublier(hote,
            [&](const Alerte &a) {
                const auto regle = std::find_if(m_jeu.regles.cbegin(), m_jeu.regles.cend(),
                                                [&a](const Regle &r) { return r.nom == a.alertname; });
                return !a.vm.isEmpty() && regle != m_jeu.regles.cend() && regle->type == TypeRegle::MesureVm
                       && !presentes.contains(a.vm);
            },
            maintenant);
}

void EvaluateurAlertes::evaluerSeuil(Hote &hote, const Regle &regle, const QString &vm, double valeur, qint64 maintenant,
                                     bool silence, bool nouveau)
{
    // An absent measure (no such sensor) is not judged.
    if (!std::isfinite(valeur))
        return;
    SuiviAlerte &s = suivi(hote, regle, vm);
    EtatAlerte etat;
    if (regle.valeurPossible(valeur)) {
        etat = s.niveauSeuil(regle, valeur, maintenant);
    } else {
        // A broken sensor, not a fire: counted once per report.
        s.interrompre();
        etat = EtatAlerte::Inconnu;
        if (nouveau)
            ++m_impossibles;
    }
    noter(s, etat, valeur, maintenant, silence, nouveau, s.alerte.seuil);
}

void EvaluateurAlertes::evaluerVms(Hote &hote, const Regle &regle, qint64 maintenant, bool silence, bool nouveau)
{
    const auto niveau = [](int etat) {
        return etat == vmPlantee ? EtatAlerte::Critique : etat == vmArretee ? EtatAlerte::Avertissement : EtatAlerte::Ok;
    };
    int vues = 0;
    for (const RapportVM &vm : qAsConst(hote.dernier.vms)) {
        if (!hote.vmsVues.contains(vm.nom)) {
            if (vm.etat != vmEnMarche)
                continue;
            hote.vmsVues.insert(vm.nom);
        }
        ++vues;
        noter(suivi(hote, regle, vm.nom), niveau(vm.etat), double(vm.etat), maintenant, silence, nouveau);
    }
    if (vues == hote.vmsVues.size())
        return;
    // Seen running once, and now gone from the report: as if shut off.
    QSet<QString> presentes;
    for (const RapportVM &vm : qAsConst(hote.dernier.vms))
        presentes.insert(vm.nom);
    for (const QString &nom : qAsConst(hote.vmsVues)) {
        if (!presentes.contains(nom))
            noter(suivi(hote, regle, nom), EtatAlerte::Avertissement, Regle::aucun, maintenant, silence, nouveau);
    }
}

SuiviAlerte &EvaluateurAlertes::suivi(Hote &hote, const Regle &regle, const QString &vm)
{
    const QPair<QString, QString> cle(regle.nom, vm);
    auto trouve = hote.suivis.find(cle);
    if (trouve == hote.suivis.end()) {
        trouve = hote.suivis.insert(cle, SuiviAlerte());
        trouve->alerte.alertname = regle.nom;
        trouve->alerte.hyperviseur = hote.dernier.nom;
        trouve->alerte.vm = vm;
    }
    return *trouve;
}

void EvaluateurAlertes::noter(SuiviAlerte &s, EtatAlerte etat, double valeur, qint64 maintenant, bool silence,
                              bool nouveau, double seuil)
{
    s.alerte.valeur = valeur;
    s.alerte.seuil = seuil;
    if (s.enregistrer(etat, maintenant, silence, nouveau))
        emit changement(s.alerte);
}

void EvaluateurAlertes::oublier(Hote &hote, const std::function<bool(const Alerte &)> &quoi, qint64 maintenant)
{
    for (auto it = hote.suivis.begin(); it != hote.suivis.end();) {
        if (!quoi(it->alerte)) {
            ++it;
            continue;
        }
        Alerte fin = it->alerte;
        it = hote.suivis.erase(it);
        if (fin.etat == EtatAlerte::Ok)
            continue;
        fin.etat = EtatAlerte::Ok;
        fin.depuis = maintenant;
        fin.instable = false;
        emit changement(fin);
    }
}

QVector<Alerte> EvaluateurAlertes::actives() const
{
    QVector<Alerte> liste;
    for (const Hote &hote : m_hotes) {
        for (const SuiviAlerte &s : hote.suivis) {
            if (s.alerte.etat != EtatAlerte::Ok)
                liste.append(s.alerte);
        }
    }
    std::sort(liste.begin(), liste.end(), [](const Alerte &a, const Alerte &b) {
        return std::tie(a.hyperviseur, a.alertname, a.vm) < std::tie(b.hyperviseur, b.alertname, b.vm);
    });
    return liste;
}
