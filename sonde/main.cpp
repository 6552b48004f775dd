// SPDX-License-Identifier: MIT
#include "ArretSignaux.h"
#include "Console.h"
#include "EmetteurRapports.h"
#include "JournalEtats.h"
#include "LigneCommandeSonde.h"
#include "Sonde.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("collecteur-sonde"));

    LigneCommandeSonde ligne;
    const AnalyseurOptions::Resultat resultat = ligne.analyser(QCoreApplication::arguments());
    if (resultat != AnalyseurOptions::Executer)
        return AnalyseurOptions::terminer(resultat, ligne.texte());
    const ParametresSonde &parametres = ligne.parametres();

    // Before anything starts, so that a stop asked for during start-up waits
    // for the event loop rather than killing the agent.
    ArretSignaux arret;
    JournalEtats journal;
    Sonde sonde(parametres, journal);
    QObject::connect(&arret, &ArretSignaux::arretDemande, &sonde, &Sonde::arreter);
    QObject::connect(&sonde, &Sonde::termine, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    std::unique_ptr<EmetteurRapports> emetteur;
    if (parametres.uneFois) {
        QObject::connect(&sonde, &Sonde::rapportsPrets, &application, [](const QVector<QByteArray> &rapports) {
            for (const QByteArray &rapport : rapports)
                Console::sortie(QString::fromLatin1(rapport));
            Console::vider();
        });
    } else {
        emetteur = std::make_unique<EmetteurRapports>(parametres.collecteurs, journal, parametres.signataire);
        QObject::connect(&sonde, &Sonde::rapportsPrets, emetteur.get(), &EmetteurRapports::envoyer);
        QStringList destinations;
        for (const AdresseCollecteur &adresse : parametres.collecteurs)
            destinations << QStringLiteral("%1:%2").arg(adresse.hote).arg(adresse.port);
        journal.ecrire(QStringLiteral("Sonde %1 : un rapport toutes les %2 s vers %3, libvirt %4%5.")
                           .arg(parametres.nom)
                           .arg(parametres.intervalle)
                           .arg(destinations.join(QStringLiteral(", ")),
                                parametres.sansLibvirt() ? QStringLiteral("non utilisé") : parametres.libvirt,
                                parametres.signataire.actif()
                                    ? QStringLiteral(", rapports signés (clé lue dans %1)").arg(parametres.fichierCle)
                                    : QString()));
    }
    sonde.demarrer();
    return QCoreApplication::exec();
}
