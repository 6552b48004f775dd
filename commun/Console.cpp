// SPDX-License-Identifier: MIT
#include "Console.h"

#include <QByteArray>

#include <cstdio>

namespace Console {

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

} // namespace Console
