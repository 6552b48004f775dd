// SPDX-License-Identifier: MIT
#ifndef LECTEURRAPPORT_H
#define LECTEURRAPPORT_H

#include "ClesRapport.h"

#include <QString>
#include <QVector>

#include <limits>

// A value a report may leave out, or give in a form that is not a number:
// both read as absent (NaN), never as a made-up 0.
constexpr double valeurAbsente = std::numeric_limits<double>::quiet_NaN();

struct RapportVM
{
    QString nom;
    QString uuid;
    int etat = -1; // libvirt's domain state code, -1 when absent
    double cpu = valeurAbsente;     // percent
    double ram = valeurAbsente;     // KiB
    double maxram = valeurAbsente;  // KiB
    double network = valeurAbsente; // Mbit/s
};

struct RapportHyperviseur
{
    QString nom;
    double time = valeurAbsente; // Unix seconds
    double cpu = valeurAbsente;
    double ram = valeurAbsente;
    double disk = valeurAbsente;
    double network = valeurAbsente;
    double cputemp = valeurAbsente;
    double mbtemp = valeurAbsente;
    QVector<RapportVM> vms;
    int vmsIgnorees = 0;
};

// Where each measure of a report is kept, by its key.
template <typename Rapport>
struct ChampMesure
{
    QLatin1String cle;
    double Rapport::*valeur;
};

// In the order of ClesRapport::mesuresHyperviseur().
constexpr ChampMesure<RapportHyperviseur> champsHyperviseur[] = {
    {ClesRapport::temperatureCpu, &RapportHyperviseur::cputemp},
    {ClesRapport::temperatureCarteMere, &RapportHyperviseur::mbtemp},
    {ClesRapport::cpu, &RapportHyperviseur::cpu},
    {ClesRapport::ram, &RapportHyperviseur::ram},
    {ClesRapport::disque, &RapportHyperviseur::disk},
    {ClesRapport::reseau, &RapportHyperviseur::network},
};

// In the order of ClesRapport::mesuresVM(), less the state: a code, kept
// as an integer.
constexpr ChampMesure<RapportVM> champsVM[] = {
    {ClesRapport::cpu, &RapportVM::cpu},
    {ClesRapport::ram, &RapportVM::ram},
    {ClesRapport::ramMax, &RapportVM::maxram},
    {ClesRapport::reseau, &RapportVM::network},
};

// Reads a relayed report as the collector's store does: the frame's Latin-1
// characters are the report's bytes, parsed as UTF-8 JSON, and read again as
// the Latin-1 text they are when they are not UTF-8. The collector relays
// anything, so every shape is expected: what cannot be read is left absent.
class LecteurRapport
{
public:
    // A report's VMs beyond this count are counted, not kept: a datagram
    // holds far fewer, and a display must not keep a hostile frame's list.
    static constexpr int vmsMaximum = 4096;

    // False, with the reason, when the text is not a JSON object naming its
    // hypervisor with a non-empty string.
    static bool decoder(const QString &texte, RapportHyperviseur &rapport, QString *erreur = nullptr);
};

#endif
