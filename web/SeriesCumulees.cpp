// SPDX-License-Identifier: MIT
#include "SeriesCumulees.h"

namespace {

void ajouterSerie(SerieCumulee &serie, const SerieCumulee &autre)
{
    for (auto it = autre.constBegin(); it != autre.constEnd(); ++it)
        serie[it.key()].ajouter(it.value());
}

} // namespace

void Cumul::ajouter(const Cumul &autre)
{
    lignes += autre.lignes;
    sommeTemps += autre.sommeTemps;
    for (size_t i = 0; i < somme.size(); ++i) {
        somme[i] += autre.somme[i];
        nombre[i] += autre.nombre[i];
    }
}

SerieVMCumulee &SeriesCumulees::vm(const char *nom, int tailleNom, const char *uuid, int tailleUuid)
{
    auto trouvee = vms.find(QByteArray::fromRawData(nom, tailleNom));
    if (trouvee == vms.end())
        trouvee = vms.insert(QByteArray(nom, tailleNom),
                             SerieVMCumulee{QString::fromUtf8(nom, tailleNom), QString::fromUtf8(uuid, tailleUuid), {}});
    else if (trouvee->uuid.isEmpty() && tailleUuid > 0)
        trouvee->uuid = QString::fromUtf8(uuid, tailleUuid);
    return *trouvee;
}

void SeriesCumulees::ajouter(const SeriesCumulees &autre)
{
    ajouterSerie(hyperviseur, autre.hyperviseur);
    for (auto it = autre.vms.constBegin(); it != autre.vms.constEnd(); ++it) {
        const QByteArray uuid = it->uuid.toUtf8();
        ajouterSerie(vm(it.key().constData(), int(it.key().size()), uuid.constData(), int(uuid.size())).cumuls, it->cumuls);
    }
    lignes += autre.lignes;
}
