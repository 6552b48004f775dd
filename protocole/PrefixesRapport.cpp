// SPDX-License-Identifier: MIT
#include "PrefixesRapport.h"

#include "ClesRapport.h"

namespace {

QByteArray apresUneCle(QLatin1String nom)
{
    return ",\"" + QByteArray(nom.data(), nom.size()) + "\":";
}

PrefixeCle prefixe(const QVector<ClesRapport::Cle> &cles, QLatin1String nom)
{
    for (const ClesRapport::Cle &cle : cles) {
        if (cle.nom == nom)
            return {apresUneCle(nom), cle.decimales};
    }
    Q_ASSERT_X(false, "PrefixesRapport", "clé absente de sa table");
    return {apresUneCle(nom), -1};
}

} // namespace

const PrefixesRapport &PrefixesRapport::instance()
{
    static const PrefixesRapport prefixes;
    return prefixes;
}

PrefixesRapport::PrefixesRapport()
{
    using namespace ClesRapport;
    debut = '{' + apresUneCle(nom).mid(1);
    temps = prefixe(hyperviseur(), ClesRapport::temps);
    cputemp = prefixe(hyperviseur(), temperatureCpu);
    mbtemp = prefixe(hyperviseur(), temperatureCarteMere);
    cpu = prefixe(hyperviseur(), ClesRapport::cpu);
    ram = prefixe(hyperviseur(), ClesRapport::ram);
    disque = prefixe(hyperviseur(), ClesRapport::disque);
    reseau = prefixe(hyperviseur(), ClesRapport::reseau);
    vms = apresUneCle(ClesRapport::vms) + '[';

    uuidVm = prefixe(vm(), uuid);
    etatVm = prefixe(vm(), etat);
    cpuVm = prefixe(vm(), ClesRapport::cpu);
    ramVm = prefixe(vm(), ClesRapport::ram);
    ramMaxVm = prefixe(vm(), ramMax);
    reseauVm = prefixe(vm(), ClesRapport::reseau);
}
