// SPDX-License-Identifier: MIT
#ifndef HYPERVISEURSIMULE_H
#define HYPERVISEURSIMULE_H

#include <QByteArray>
#include <QString>
#include <QVector>

// One simulated hypervisor and its virtual machines: stable names and uuids,
// loads that follow slow waves of the given instant, so successive reports
// move smoothly. The fixed parts of the JSON report are built once; only the
// numbers are written per report, which keeps the agent fast enough to load
// the collector.
class HyperviseurSimule
{
public:
    // `indice` from 0 gives the names hv-lab-01, hv-lab-02...; its VMs are
    // numbered across the whole simulated fleet, so no two share a name.
    HyperviseurSimule(int indice, int nombreVms);

    QString nom() const { return m_nom; }
    // The name of the simulated hypervisor of rank `indice`.
    static QString nomDe(int indice);
    QStringList nomsVms() const;
    QStringList uuidsVms() const;

    // The JSON report at Unix time `temps` (seconds, the report's `time`),
    // its loads taken at `instant` (seconds, any steady origin).
    QByteArray rapport(qint64 temps, double instant) const;

    // Replaces `tampon` with a whole datagram: `sequence` on 4 bytes,
    // big-endian, then the report. The buffer keeps its capacity.
    void ecrireDatagramme(QByteArray &tampon, quint32 sequence, qint64 temps, double instant) const;

private:
    struct Onde
    {
        double base;
        double amplitude;
        double periode;
        double phase;
        double valeur(double instant) const;
    };
    struct Vm
    {
        QString nom;
        QString uuid;
        QByteArray debut;
        int etat;
        qint64 maxram;
        Onde cpu;
        Onde ram;
        Onde reseau;
    };

    void ajouterRapport(QByteArray &tampon, qint64 temps, double instant) const;

    QString m_nom;
    QByteArray m_debut;
    Onde m_cputemp;
    Onde m_mbtemp;
    Onde m_cpu;
    Onde m_ram;
    Onde m_disque;
    Onde m_reseau;
    QVector<Vm> m_vms;
};

#endif
