// SPDX-License-Identifier: MIT
#ifndef RAPPORTSONDE_H
#define RAPPORTSONDE_H

#include "DatagrammeRapport.h"
#include "LecteurLibvirt.h"
#include "LectureHote.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// Writes the JSON report texts of one sample. Texts are pure ASCII (other
// characters escaped), so the Latin-1 datagram carries any VM name intact.
class RapportSonde
{
public:
    // The most text one datagram carries after its sequence number.
    static constexpr int tailleMaximale = DatagrammeRapport::tailleMaximale - DatagrammeRapport::tailleEntete;

    // One text, or several when the VMs do not fit in `taille` bytes: each
    // then a complete report with the same host keys, the VMs shared out in
    // their order. Without `vms` (libvirt unreadable) the key is left out.
    static QVector<QByteArray> ecrire(const QString &nom, qint64 temps, const MesuresHote &hote,
                                      const std::optional<QVector<MesuresVm>> &vms, int taille = tailleMaximale);

    static void ajouterChaine(QByteArray &tampon, const QString &texte);
};

#endif
