// SPDX-License-Identifier: MIT
#include "Agent.h"

#include "Console.h"
#include "SignatureRapport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUdpSocket>

#include <chrono>
#include <thread>

namespace {

using Horloge = std::chrono::steady_clock;

double secondesDepuis(Horloge::time_point debut, Horloge::time_point fin)
{
    return std::chrono::duration<double>(fin - debut).count();
}

QString debit(qint64 datagrammes, double secondes)
{
    return QString::number(secondes > 0 ? qRound64(double(datagrammes) / secondes) : 0);
}

} // namespace

Agent::Agent(const ParametresAgent &parametres)
    : m_parametres(parametres)
{
}

Agent::~Agent() = default;

bool Agent::preparer()
{
    const bool boucleLocale = m_parametres.cible.protocol() == QAbstractSocket::IPv4Protocol
                              && m_parametres.cible.isLoopback();
    if (!boucleLocale && m_parametres.hyperviseurs > 1)
        Console::erreur(QStringLiteral("Attention : cible hors de la boucle locale, les %1 hyperviseurs partagent "
                                        "l'adresse de cette machine et le collecteur mêlera leurs numéros de séquence.")
                             .arg(m_parametres.hyperviseurs));

    for (int i = 0; i < m_parametres.hyperviseurs; ++i) {
        Emetteur emetteur{HyperviseurSimule(i, m_parametres.vms),
                          Sequenceur(1, m_parametres.trou, m_parametres.repetition, m_parametres.inversion),
                          std::make_unique<QUdpSocket>(), SignataireRapports()};
        const QHostAddress source = boucleLocale ? QHostAddress(quint32(0x7F000001u + quint32(i)))
                                                 : (m_parametres.cible.protocol() == QAbstractSocket::IPv6Protocol
                                                        ? QHostAddress(QHostAddress::AnyIPv6)
                                                        : QHostAddress(QHostAddress::AnyIPv4));
        if (!emetteur.socket->bind(source, 0)) {
            Console::erreur(QStringLiteral("Impossible de lier le socket de %1 à l'adresse %2 : %3")
                                 .arg(emetteur.hyperviseur.nom(), source.toString(), emetteur.socket->errorString()));
            return false;
        }
        QString erreur;
        if (!m_parametres.cles.isEmpty()
            && !SignataireRapports::choisir(m_parametres.cles, emetteur.hyperviseur.nom(), emetteur.signataire, erreur)) {
            Console::erreur(QStringLiteral("Clé illisible : %1.").arg(erreur));
            return false;
        }
        m_emetteurs.push_back(std::move(emetteur));
    }
    return true;
}

int Agent::executer()
{
    const ParametresAgent &p = m_parametres;
    Console::sortie(QStringLiteral("Envoi vers %1:%2 : %3 hyperviseur(s), %4 VM par rapport, %5.")
                         .arg(p.cible.toString())
                         .arg(p.port)
                         .arg(p.hyperviseurs)
                         .arg(p.vms)
                         .arg(p.rythme > 0 ? QStringLiteral("%1 datagramme(s)/s par hyperviseur").arg(p.rythme)
                                           : QStringLiteral("au plus vite")));
    Console::vider();

    const Horloge::time_point debut = Horloge::now();
    const double origine = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const Horloge::duration periode = p.rythme > 0
        ? std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(1.0 / p.rythme))
        : Horloge::duration::zero();
    const Horloge::time_point fin = p.duree > 0
        ? debut + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(p.duree))
        : Horloge::time_point::max();
    // Long waits are cut into slices, and events are delivered at most once a
    // slice, so that a stop is seen at once without slowing the sending.
    const Horloge::duration tranche = std::chrono::milliseconds(100);
    Horloge::time_point prochaineEcoute = debut;
    const auto arrete = [&](Horloge::time_point maintenant) {
        if (maintenant >= prochaineEcoute) {
            QCoreApplication::processEvents();
            prochaineEcoute = maintenant + tranche;
        }
        return m_arret;
    };

    QByteArray tampon;
    qint64 tours = 0;
    qint64 envoyes = 0;
    qint64 echecs = 0;
    QString derniereErreur;
    Horloge::time_point prochainBilan = debut + std::chrono::seconds(1);
    qint64 envoyesAuBilan = 0;
    Horloge::time_point instantDuBilan = debut;

    while (p.nombre == 0 || tours < p.nombre) {
        Horloge::time_point maintenant = Horloge::now();
        if (arrete(maintenant))
            break;
        if (periode > Horloge::duration::zero()) {
            const Horloge::time_point echeance = debut + periode * tours;
            while (maintenant < echeance && maintenant < fin && !arrete(maintenant)) {
                std::this_thread::sleep_until(std::min({echeance, fin, maintenant + tranche}));
                maintenant = Horloge::now();
            }
            if (m_arret)
                break;
        }
        if (maintenant >= fin)
            break;

        const qint64 temps = QDateTime::currentSecsSinceEpoch();
        const double instant = origine + secondesDepuis(debut, maintenant);
        for (Emetteur &emetteur : m_emetteurs) {
            emetteur.hyperviseur.ecrireDatagramme(tampon, emetteur.sequenceur.suivant(), temps, instant);
            if (emetteur.signataire.actif())
                emetteur.signataire.signer(tampon, SignatureRapport::maintenant());
            if (emetteur.socket->writeDatagram(tampon.constData(), tampon.size(), p.cible, p.port) == tampon.size()) {
                ++envoyes;
            } else {
                ++echecs;
                derniereErreur = emetteur.socket->errorString();
            }
        }
        ++tours;

        if (!p.silencieux && maintenant >= prochainBilan) {
            Console::sortie(QStringLiteral("[%1 s] %2 datagrammes envoyés, %3 datagrammes/s")
                                 .arg(qRound64(secondesDepuis(debut, maintenant)))
                                 .arg(envoyes)
                                 .arg(debit(envoyes - envoyesAuBilan, secondesDepuis(instantDuBilan, maintenant))));
            Console::vider();
            envoyesAuBilan = envoyes;
            instantDuBilan = maintenant;
            prochainBilan += std::chrono::seconds(1);
            if (prochainBilan < maintenant)
                prochainBilan = maintenant + std::chrono::seconds(1);
        }
    }

    const double duree = secondesDepuis(debut, Horloge::now());
    Console::sortie(QStringLiteral("Terminé : %1 datagrammes envoyés en %2 s, soit %3 datagrammes/s ; %4 échec(s) d'envoi.")
                         .arg(envoyes)
                         .arg(duree, 0, 'f', 3)
                         .arg(debit(envoyes, duree))
                         .arg(echecs));
    Console::vider();
    if (echecs > 0) {
        Console::erreur(QStringLiteral("Dernière erreur d'envoi : %1").arg(derniereErreur));
        return 1;
    }
    return 0;
}
