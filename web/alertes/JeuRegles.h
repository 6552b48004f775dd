// SPDX-License-Identifier: MIT
#ifndef JEUREGLES_H
#define JEUREGLES_H

#include "FenetreMaintenance.h"
#include "Regle.h"

#include <QVector>

// The rules in force and the maintenance windows, as a rules file gives them.
struct JeuRegles
{
    QVector<Regle> regles = Regle::parDefaut();
    QVector<FenetreMaintenance> maintenances;
};

#endif
