// SPDX-License-Identifier: MIT
#include "Alerte.h"

QString Alerte::nomEtat(EtatAlerte etat)
{
    switch (etat) {
    case EtatAlerte::Ok: return QStringLiteral("ok");
    case EtatAlerte::Avertissement: return QStringLiteral("avertissement");
    case EtatAlerte::Critique: return QStringLiteral("critique");
    case EtatAlerte::Inconnu: return QStringLiteral("inconnu");
    }
    return QString();
}
