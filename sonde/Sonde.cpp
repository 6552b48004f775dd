// SPDX-License-Identifier: MIT
#include "Sonde.h"

#include "ClesRapport.h"
#include "JournalEtats.h"
#include "RapportSonde.h"

#include <QDateTime>

#include <csignal>

Sonde::Sonde(const ParametresSonde &parametres, JournalEtats &journal, QObject *parent)
    : QObject(parent)
    , m_parametres(parametres)
    , m_journal(journal)
    , m_hote(parametres.racine, parametres.disque)
{
    if (!parametres.sansLibvirt())
        m_libvirt = std::make_unique<LecteurLibvirt>(parametres.libvirt);
    m_minuteur.setTimerType(Qt::PreciseTimer);
    m_minuteur.setInterval(int(qRound64(parametres.intervalle * 1000)));
    m_minuteur.setSingleShot(parametres.uneFois);
    connect(&m_minuteur, &QTimer::timeout, this, &Sonde::mesurer);
}

Sonde::~Sonde() = default;

void Sonde::demarrer()
{
    m_precedent = m_hote.lire();
    lireVms();
    m_minuteur.start();
}

std::optional<QVector<MesuresVm>> Sonde::lireVms()
{
    if (!m_libvirt)
        return QVector<MesuresVm>();
    const EchantillonVms echantillon = m_libvirt->lire();
    const QString uri = m_libvirt->uri();
    if (!echantillon.lu) {
        m_journal.panne(QStringLiteral("libvirt"),
                        QStringLiteral("Connexion à libvirt %1 (%2) : %3")
                            .arg(m_libvirt->connexionPerdue() ? QStringLiteral("perdue") : QStringLiteral("impossible"),
                                 uri, m_libvirt->erreur()));
        return std::nullopt;
    }
    // The first connection is said once, whether or not attempts failed before.
    if (!m_libvirtDejaConnecte) {
        m_libvirtDejaConnecte = true;
        const QString ligne = QStringLiteral("Connexion à libvirt établie (%1) : %2 domaine(s).")
                                  .arg(uri)
                                  .arg(echantillon.domaines.size());
        if (!m_journal.retour(QStringLiteral("libvirt"), ligne))
            m_journal.ecrire(ligne);
    } else {
        m_journal.retour(QStringLiteral("libvirt"), QStringLiteral("Connexion à libvirt rétablie (%1).").arg(uri));
    }

    // A domain's rates come from its own previous reading, however long ago
    // it was (libvirt may have been away meanwhile).
    QVector<MesuresVm> mesures;
    mesures.reserve(echantillon.domaines.size());
    QHash<QString, EchantillonDomaine> domaines;
    domaines.reserve(echantillon.domaines.size());
    for (const EchantillonDomaine &domaine : echantillon.domaines) {
        const auto precedent = m_domainesPrecedents.constFind(domaine.uuid);
        mesures.append(MesuresVm::calculer(precedent == m_domainesPrecedents.constEnd() ? nullptr : &precedent.value(), domaine));
        domaines.insert(domaine.uuid, domaine);
    }
    m_domainesPrecedents = domaines;
    return mesures;
}

void Sonde::signalerAbsences(const MesuresHote &mesures)
{
    for (const QString cle : {ClesRapport::cpu, ClesRapport::ram, ClesRapport::disque, ClesRapport::reseau,
                              ClesRapport::temperatureCpu, ClesRapport::temperatureCarteMere}) {
        const QString partie = QStringLiteral("mesure ") + cle;
        const auto absence = mesures.absences.constFind(cle);
        if (absence == mesures.absences.constEnd())
            m_journal.retour(partie, QStringLiteral("Mesure %1 de nouveau dans le rapport.").arg(cle));
        else
            m_journal.panne(partie, QStringLiteral("Mesure %1 absente du rapport : %2.").arg(cle, absence.value()));
    }
}

void Sonde::mesurer()
{
    const EchantillonHote echantillon = m_hote.lire();
    const qint64 temps = QDateTime::currentSecsSinceEpoch();
    const MesuresHote mesures = MesuresHote::calculer(m_precedent, echantillon);
    m_precedent = echantillon;
    const auto vms = lireVms();
    signalerAbsences(mesures);
    emit rapportsPrets(RapportSonde::ecrire(m_parametres.nom, temps, mesures, vms));
    if (m_parametres.uneFois)
        emit termine();
}

void Sonde::arreter(int signal)
{
    m_minuteur.stop();
    const QString nom = signal == SIGINT    ? QStringLiteral("SIGINT")
                        : signal == SIGTERM ? QStringLiteral("SIGTERM")
                                            : QStringLiteral("signal %1").arg(signal);
    if (m_libvirt && m_libvirt->connecte()) {
        m_libvirt->deconnecter();
        m_journal.ecrire(QStringLiteral("Arrêt demandé (%1) : connexion à libvirt fermée.").arg(nom));
    } else {
        m_journal.ecrire(QStringLiteral("Arrêt demandé (%1).").arg(nom));
    }
    emit termine();
}
