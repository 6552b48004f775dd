// SPDX-License-Identifier: MIT
#include "Terminal.h"

#include <QByteArray>

#include <cstdio>

namespace Terminal {

void sortie(const QString &ligne)
{
    const QByteArray octets = ligne.toLocal8Bit() + '\n';
    std::fwrite(octets.constData(), 1, size_t(octets.size()), stdout);
}

void vider()
{
    std::fflush(stdout);
}

void erreur(const QString &ligne)
{
    const QByteArray octets = ligne.toLocal8Bit() + '\n';
    std::fwrite(octets.constData(), 1, size_t(octets.size()), stderr);
    std::fflush(stderr);
}

} // namespace Terminal
