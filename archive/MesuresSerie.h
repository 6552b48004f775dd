// SPDX-License-Identifier: MIT
#ifndef MESURESSERIE_H
#define MESURESSERIE_H

#include <QtGlobal>

#include <array>
#include <vector>

// One series' points read from a backup file, in time order, one per
// second at most: the values of a hypervisor's sources or of a VM's, in the
// order of FichierArchive's lists, NaN where the report had none.
struct MesuresSerie
{
    static constexpr int sourcesMaximum = 6;

    struct Point
    {
        qint64 temps = 0; // Unix seconds
        std::array<double, sourcesMaximum> valeurs{};
    };

    int sources = 0;
    std::vector<Point> points;
};

#endif
