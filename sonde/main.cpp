// SPDX-License-Identifier: MIT
#include "EmetteurRapports.h"
#include "JournalEtats.h"
#include "LigneCommandeSonde.h"
#include "Sonde.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-sonde"));
    JournalEtats journal;

    LigneCommandeSonde ligne;
    switch (ligne.analyser(QCoreApplication::arguments())) {
    case LigneCommandeSonde::Aide:
        std::fputs(ligne.texte().toLocal8Bit().constData(), stdout);
        return 0;
    case LigneCommandeSonde::Erreur:
        journal.ecrire(ligne.texte());
        return 2;
    case LigneCommandeSonde::Executer:
        break;
    }
    const ParametresSonde &parametres = ligne.parametres();

    Sonde sonde(parametres, journal);
    std::unique_ptr<EmetteurRapports> emetteur;
    if (parametres.uneFois) {
        QObject::connect(&sonde, &Sonde::rapportsPrets, &application, [](const QVector<QByteArray> &rapports) {
            for (const QByteArray &rapport : rapports) {
                std::fwrite(rapport.constData(), 1, size_t(rapport.size()), stdout);
                std::fputc('\n', stdout);
            }
            std::fflush(stdout);
        });
        QObject::connect(&sonde, &Sonde::termine, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    } else {
        emetteur = std::make_unique<EmetteurRapports>(parametres.collecteurs, journal);
        QObject::connect(&sonde, &Sonde::rapportsPrets, emetteur.get(), &EmetteurRapports::envoyer);
        QStringList destinations;
        for (const AdresseCollecteur &adresse : parametres.collecteurs)
            destinations << QStringLiteral("%1:%2").arg(adresse.hote).arg(adresse.port);
        journal.ecrire(QStringLiteral("Sonde %1 : un rapport toutes les %2 s vers %3, libvirt %4.")
                           .arg(parametres.nom)
                           .arg(parametres.intervalle)
                           .arg(destinations.join(QStringLiteral(", ")),
                                parametres.sansLibvirt() ? QStringLiteral("non utilisé") : parametres.libvirt));
    }
    sonde.demarrer();
    return QCoreApplication::exec();
}
