// SPDX-License-Identifier: MIT
#ifndef EXPOSITIONMETRIQUES_H
#define EXPOSITIONMETRIQUES_H

#include "EtatFlotte.h"

#include <QByteArray>

struct CompteursWeb
{
    bool connecte = false;
    quint64 trames = 0;
    quint64 reconnexions = 0;
    quint64 invalides = 0;
    int pages = 0;
};

// The fleet in Prometheus' text exposition format (0.0.4): one gauge family
// per report key, in base units, without time stamps, and the program's own
// counters. A hypervisor's series go once it has been silent for five minutes.
class ExpositionMetriques
{
public:
    static constexpr qint64 expiration = 5 * 60000;
    static constexpr const char *typeContenu = "text/plain; version=0.0.4; charset=utf-8";

    static QByteArray texte(const EtatFlotte &flotte, const CompteursWeb &compteurs, qint64 maintenant);
    // A label value, quoted, with backslash, double quote and line feed escaped.
    static QByteArray etiquette(const QString &valeur);
};

#endif
