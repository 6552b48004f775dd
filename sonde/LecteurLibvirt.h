// SPDX-License-Identifier: MIT
#ifndef LECTEURLIBVIRT_H
#define LECTEURLIBVIRT_H

#include <QHash>
#include <QString>
#include <QVector>

#include <libvirt/libvirt.h>

#include <optional>

// One domain as libvirt gives it at one reading; rates come from two readings.
struct EchantillonDomaine
{
    QString nom;
    QString uuid;
    int etat = 0;
    qint64 instantMs = 0;
    std::optional<quint64> tempsCpuNs;
    int vcpus = 0;
    qint64 ramKio = 0;
    qint64 maxramKio = 0;
    // Bytes received plus sent, per interface of the domain; empty when its
    // statistics could not be read.
    std::optional<QHash<QString, quint64>> octetsInterfaces;
};

struct EchantillonVms
{
    bool lu = false;
    QVector<EchantillonDomaine> domaines;
};

// A domain's measures in the report's units; an optional left empty is a key
// left out of the report (no earlier reading to compare with).
struct MesuresVm
{
    QString nom;
    QString uuid;
    int etat = 0;
    std::optional<double> cpu;
    qint64 ram = 0;
    qint64 maxram = 0;
    std::optional<double> network;

    static MesuresVm calculer(const EchantillonDomaine *avant, const EchantillonDomaine &apres);
};

// Reads the domains through a read-only libvirt connection, opened again at
// the next reading when it failed or was lost. Takes libvirt's bulk
// statistics where the driver gives them and asks domain by domain for what
// they lack (the test driver, older daemons).
class LecteurLibvirt
{
public:
    explicit LecteurLibvirt(const QString &uri);
    ~LecteurLibvirt();
    LecteurLibvirt(const LecteurLibvirt &) = delete;
    LecteurLibvirt &operator=(const LecteurLibvirt &) = delete;

    // Not `lu`: erreur() says why (connection, or the reading itself).
    EchantillonVms lire();

    bool connecte() const { return m_connexion != nullptr; }
    // The next reading opens a new connection.
    void deconnecter();
    QString erreur() const { return m_erreur; }
    // True when the last failure came from a connection that was open.
    bool connexionPerdue() const { return m_perdue; }
    QString uri() const { return m_uri; }

private:
    bool connecter();
    bool lireEnBloc(EchantillonVms &echantillon, qint64 instantMs);
    bool lireUnParUn(EchantillonVms &echantillon, qint64 instantMs);
    void completer(virDomainPtr domaine, EchantillonDomaine &lu, bool infosManquantes, bool interfacesManquantes);
    QStringList interfaces(virDomainPtr domaine);
    void noterErreur();

    QString m_uri;
    virConnectPtr m_connexion = nullptr;
    bool m_enBloc = true;
    QString m_erreur;
    bool m_perdue = false;
    // Interface names per domain uuid and id, read from its XML once per run
    // of the domain rather than at every interval.
    QHash<QString, QPair<int, QStringList>> m_interfaces;
};

#endif
