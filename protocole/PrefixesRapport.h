// SPDX-License-Identifier: MIT
#ifndef PREFIXESRAPPORT_H
#define PREFIXESRAPPORT_H

#include <QByteArray>

// A report key as an agent writes it after another key: `,"cpu":`, and the
// decimals of its value (-1: an integer or a text).
struct PrefixeCle
{
    QByteArray octets;
    int decimales = -1;
};

// The report's keys as the agents write them, built once from ClesRapport,
// so that writing a report, which the simulator does at high rates, appends
// bytes and numbers only.
class PrefixesRapport
{
public:
    static const PrefixesRapport &instance();

    // `{"name":`, which opens a report and each of its VMs.
    QByteArray debut;
    PrefixeCle temps;
    PrefixeCle cputemp;
    PrefixeCle mbtemp;
    PrefixeCle cpu;
    PrefixeCle ram;
    PrefixeCle disque;
    PrefixeCle reseau;
    // `,"vms":[`
    QByteArray vms;

    PrefixeCle uuidVm;
    PrefixeCle etatVm;
    PrefixeCle cpuVm;
    PrefixeCle ramVm;
    PrefixeCle ramMaxVm;
    PrefixeCle reseauVm;

private:
    PrefixesRapport();
};

#endif
