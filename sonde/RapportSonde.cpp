// SPDX-License-Identifier: MIT
#include "RapportSonde.h"

namespace {

void ajouterNombre(QByteArray &tampon, const char *cle, const std::optional<double> &valeur, int decimales)
{
    if (!valeur)
        return;
    tampon.append(",\"").append(cle).append("\":").append(QByteArray::number(*valeur, 'f', decimales));
}

QByteArray vm(const MesuresVm &mesures)
{
    QByteArray texte("{\"name\":");
    texte.reserve(200);
    RapportSonde::ajouterChaine(texte, mesures.nom);
    texte.append(",\"uuid\":");
    RapportSonde::ajouterChaine(texte, mesures.uuid);
    texte.append(",\"state\":").append(QByteArray::number(mesures.etat));
    ajouterNombre(texte, "cpu", mesures.cpu, 1);
    texte.append(",\"ram\":").append(QByteArray::number(mesures.ram));
    texte.append(",\"maxram\":").append(QByteArray::number(mesures.maxram));
    ajouterNombre(texte, "network", mesures.network, 2);
    return texte.append('}');
}

} // namespace

void RapportSonde::ajouterChaine(QByteArray &tampon, const QString &texte)
{
    static const char hexa[] = "0123456789abcdef";
    tampon.append('"');
    for (const QChar caractere : texte) {
        const char16_t code = caractere.unicode();
        if (code == u'"' || code == u'\\') {
            tampon.append('\\').append(char(code));
        } else if (code >= 0x20 && code < 0x7f) {
            tampon.append(char(code));
        } else {
            // Surrogate pairs come out as two escapes, as JSON wants them.
            tampon.append("\\u").append(hexa[(code >> 12) & 0xf]).append(hexa[(code >> 8) & 0xf])
                .append(hexa[(code >> 4) & 0xf]).append(hexa[code & 0xf]);
        }
    }
    tampon.append('"');
}

QVector<QByteArray> RapportSonde::ecrire(const QString &nom, qint64 temps, const MesuresHote &hote,
                                         const std::optional<QVector<MesuresVm>> &vms, int taille)
{
    QByteArray entete("{\"name\":");
    ajouterChaine(entete, nom);
    entete.append(",\"time\":").append(QByteArray::number(temps));
    ajouterNombre(entete, "cputemp", hote.cputemp, 1);
    ajouterNombre(entete, "mbtemp", hote.mbtemp, 1);
    ajouterNombre(entete, "cpu", hote.cpu, 1);
    ajouterNombre(entete, "ram", hote.ram, 1);
    ajouterNombre(entete, "disk", hote.disk, 1);
    ajouterNombre(entete, "network", hote.network, 2);
    if (!vms)
        return {entete.append('}')};

    entete.append(",\"vms\":[");
    const QByteArray fin("]}");
    QVector<QByteArray> rapports;
    QByteArray courant = entete;
    bool vide = true;
    for (const MesuresVm &mesures : *vms) {
        const QByteArray texte = vm(mesures);
        // A VM too large for any datagram still goes out alone: the failed
        // send says so on the console, rather than the VM vanishing.
        if (!vide && courant.size() + 1 + texte.size() + fin.size() > taille) {
            rapports.append(courant + fin);
            courant = entete;
            vide = true;
        }
        if (!vide)
            courant.append(',');
        courant.append(texte);
        vide = false;
    }
    rapports.append(courant + fin);
    return rapports;
}
