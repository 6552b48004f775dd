// SPDX-License-Identifier: MIT
#include "RapportSonde.h"

#include "PrefixesRapport.h"

namespace {

void ajouterNombre(QByteArray &tampon, const PrefixeCle &cle, const std::optional<double> &valeur)
{
    if (!valeur)
        return;
    tampon.append(cle.octets).append(QByteArray::number(*valeur, 'f', cle.decimales));
}

void ajouterEntier(QByteArray &tampon, const PrefixeCle &cle, qint64 valeur)
{
    tampon.append(cle.octets).append(QByteArray::number(valeur));
}

QByteArray vm(const MesuresVm &mesures)
{
    const PrefixesRapport &cles = PrefixesRapport::instance();
    QByteArray texte;
    texte.reserve(200);
    texte.append(cles.debut);
    RapportSonde::ajouterChaine(texte, mesures.nom);
    texte.append(cles.uuidVm.octets);
    RapportSonde::ajouterChaine(texte, mesures.uuid);
    ajouterEntier(texte, cles.etatVm, mesures.etat);
    ajouterNombre(texte, cles.cpuVm, mesures.cpu);
    ajouterEntier(texte, cles.ramVm, mesures.ram);
    ajouterEntier(texte, cles.ramMaxVm, mesures.maxram);
    ajouterNombre(texte, cles.reseauVm, mesures.network);
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
    const PrefixesRapport &cles = PrefixesRapport::instance();
    QByteArray entete = cles.debut;
    ajouterChaine(entete, nom);
    ajouterEntier(entete, cles.temps, temps);
    ajouterNombre(entete, cles.cputemp, hote.cputemp);
    ajouterNombre(entete, cles.mbtemp, hote.mbtemp);
    ajouterNombre(entete, cles.cpu, hote.cpu);
    ajouterNombre(entete, cles.ram, hote.ram);
    ajouterNombre(entete, cles.disque, hote.disk);
    ajouterNombre(entete, cles.reseau, hote.network);
    if (!vms)
        return {entete.append('}')};

    entete.append(cles.vms);
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
