// SPDX-License-Identifier: MIT
// The benchmark's own client, for what the agent and the display client do
// not measure:
//
//  flotte   sends one hour of a fleet: --hotes hypervisors of --vms VMs each,
//           --rapports reports per host, --intervalle seconds apart in their
//           `time`, each host from its own loopback address (127.0.x.y) with
//           its own sequence; paced at --rythme datagrams/s, or, with
//           --fenetre=W, kept at most W reports ahead of the frames relayed
//           to a display connection of its own, so the collector is fed as
//           fast as it stores without its queues growing.
//  latence  opens --clients display connections, then sends --rythme reports
//           a second for --duree seconds, each named after its index, and
//           measures, for every frame on every connection, the delay from
//           just before the datagram's send to just after the frame's read;
//           --muets more connections are opened and never read.
//  ecart    one display connection while reports go out at --rythme a second
//           for --duree seconds: the longest time between two frames, as
//           when a backup holds up the relay.
//
// Results are key=value lines on standard output.

#include "HyperviseurSimule.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Horloge = std::chrono::steady_clock;

[[noreturn]] void echec(const char *quoi, const char *detail)
{
    std::fprintf(stderr, "collecteur-bench-client : %s : %s\n", quoi, detail);
    std::exit(1);
}

long long nanos(Horloge::time_point instant)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(instant.time_since_epoch()).count();
}

sockaddr_in adresseIpv4(uint32_t hote, int port)
{
    sockaddr_in adresse{};
    adresse.sin_family = AF_INET;
    adresse.sin_addr.s_addr = htonl(hote);
    adresse.sin_port = htons(uint16_t(port));
    return adresse;
}

int socketUdp(uint32_t source)
{
    const int descripteur = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descripteur < 0)
        echec("socket", std::strerror(errno));
    const sockaddr_in adresse = adresseIpv4(source, 0);
    if (bind(descripteur, reinterpret_cast<const sockaddr *>(&adresse), sizeof adresse) != 0)
        echec("bind", std::strerror(errno));
    return descripteur;
}

int connexionAffichage(int port)
{
    const int descripteur = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in adresse = adresseIpv4(INADDR_LOOPBACK, port);
    if (descripteur < 0 || connect(descripteur, reinterpret_cast<const sockaddr *>(&adresse), sizeof adresse) != 0)
        echec("connexion d'affichage", std::strerror(errno));
    fcntl(descripteur, F_SETFL, fcntl(descripteur, F_GETFL) | O_NONBLOCK);
    return descripteur;
}

// Cuts one display connection's stream into frame texts.
struct Flux
{
    int descripteur = -1;
    std::string tampon;
    long long trames = 0;

    // False once the connection is closed or failed.
    template <typename Rappel>
    bool lire(Rappel &&surTrame)
    {
        char octets[65536];
        for (;;) {
            const ssize_t lus = recv(descripteur, octets, sizeof octets, 0);
            if (lus == 0)
                return false;
            if (lus < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            const Horloge::time_point instant = Horloge::now();
            tampon.append(octets, size_t(lus));
            size_t debut = 0;
            while (tampon.size() - debut >= 5) {
                const auto *entete = reinterpret_cast<const unsigned char *>(tampon.data() + debut);
                const uint32_t longueur = (uint32_t(entete[0]) << 24) | (uint32_t(entete[1]) << 16)
                                          | (uint32_t(entete[2]) << 8) | uint32_t(entete[3]);
                if (entete[4] != 1)
                    echec("trame", "marqueur invalide");
                if (tampon.size() - debut < 5 + size_t(longueur))
                    break;
                ++trames;
                surTrame(tampon.data() + debut + 5, size_t(longueur), instant);
                debut += 5 + size_t(longueur);
            }
            tampon.erase(0, debut);
        }
    }
};

struct Options
{
    std::string mode;
    std::map<std::string, double> valeurs;

    double valeur(const std::string &cle, double defaut) const
    {
        const auto trouve = valeurs.find(cle);
        return trouve == valeurs.end() ? defaut : trouve->second;
    }
};

Options lireOptions(int argc, char *argv[])
{
    Options options;
    if (argc < 2) {
        std::fprintf(stderr, "Usage : %s flotte|latence [--cle=valeur]...\n", argv[0]);
        std::exit(2);
    }
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t egal = argument.find('=');
        if (argument.rfind("--", 0) != 0 || egal == std::string::npos) {
            std::fprintf(stderr, "Option invalide : %s\n", argv[i]);
            std::exit(2);
        }
        options.valeurs[argument.substr(2, egal - 2)] = std::atof(argument.c_str() + egal + 1);
    }
    return options;
}

void ecrireSequence(QByteArray &tampon, uint32_t sequence)
{
    tampon.append(char(sequence >> 24)).append(char(sequence >> 16)).append(char(sequence >> 8)).append(char(sequence));
}

int flotte(const Options &options)
{
    const int port = int(options.valeur("port", 55000));
    const int hotes = int(options.valeur("hotes", 1000));
    const int vms = int(options.valeur("vms", 10));
    const long long rapports = (long long)options.valeur("rapports", 360);
    const long long intervalle = (long long)options.valeur("intervalle", 10);
    const double rythme = options.valeur("rythme", 0);
    const long long fenetre = (long long)options.valeur("fenetre", 0);
    const int portAffichage = int(options.valeur("affichage", 56000));

    std::vector<HyperviseurSimule> simules;
    std::vector<int> sockets;
    simules.reserve(size_t(hotes));
    for (int i = 0; i < hotes; ++i) {
        simules.emplace_back(i, vms);
        sockets.push_back(socketUdp(0x7F000000u | (uint32_t(1 + i / 250) << 8) | uint32_t(1 + i % 250)));
    }
    const sockaddr_in cible = adresseIpv4(INADDR_LOOPBACK, port);

    Flux affichage;
    if (fenetre > 0)
        affichage.descripteur = connexionAffichage(portAffichage);
    const auto compter = [](const char *, size_t, Horloge::time_point) {};

    const long long origine = (long long)std::time(nullptr) - rapports * intervalle;
    const long long total = rapports * hotes;
    const Horloge::time_point debut = Horloge::now();
    QByteArray tampon;
    long long envoyes = 0;
    long long echecs = 0;
    for (long long tour = 0; tour < rapports; ++tour) {
        const long long temps = origine + tour * intervalle;
        for (int i = 0; i < hotes; ++i) {
            if (rythme > 0) {
                const Horloge::time_point echeance =
                    debut + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(double(envoyes) / rythme));
                if (Horloge::now() < echeance)
                    std::this_thread::sleep_until(echeance);
            }
            while (fenetre > 0 && envoyes - affichage.trames >= fenetre) {
                pollfd attente{affichage.descripteur, POLLIN, 0};
                poll(&attente, 1, 100);
                if (!affichage.lire(compter))
                    echec("connexion d'affichage", "fermée");
            }
            tampon.resize(0);
            ecrireSequence(tampon, uint32_t(tour + 1));
            tampon.append(simules[size_t(i)].rapport(temps, double(temps)));
            if (sendto(sockets[size_t(i)], tampon.constData(), size_t(tampon.size()), 0,
                       reinterpret_cast<const sockaddr *>(&cible), sizeof cible) == tampon.size())
                ++envoyes;
            else
                ++echecs;
        }
    }
    const double dureeEnvoi = std::chrono::duration<double>(Horloge::now() - debut).count();
    if (fenetre > 0) {
        const Horloge::time_point limite = Horloge::now() + std::chrono::seconds(60);
        while (affichage.trames < envoyes && Horloge::now() < limite) {
            pollfd attente{affichage.descripteur, POLLIN, 0};
            poll(&attente, 1, 100);
            if (!affichage.lire(compter))
                break;
        }
    }
    const double duree = std::chrono::duration<double>(Horloge::now() - debut).count();
    std::printf("envoyes=%lld\nattendus=%lld\nechecs=%lld\ntrames=%lld\nduree_envoi_s=%.3f\nduree_s=%.3f\n", envoyes,
                total, echecs, affichage.trames, dureeEnvoi, duree);
    for (int descripteur : sockets)
        close(descripteur);
    if (affichage.descripteur >= 0)
        close(affichage.descripteur);
    return echecs == 0 ? 0 : 1;
}

double centile(const std::vector<long long> &tries, double fraction)
{
    if (tries.empty())
        return 0;
    // Nearest rank.
    size_t rang = size_t(fraction * double(tries.size()) + 0.999999);
    rang = std::min(std::max<size_t>(rang, 1), tries.size());
    return double(tries[rang - 1]) / 1000.0;
}

int latence(const Options &options)
{
    const int port = int(options.valeur("port", 55000));
    const int portAffichage = int(options.valeur("affichage", 56000));
    const int clients = int(options.valeur("clients", 1));
    const int vms = int(options.valeur("vms", 10));
    const double rythme = options.valeur("rythme", 1000);
    const double duree = options.valeur("duree", 5);
    const long long nombre = (long long)(rythme * duree);
    const int muets = int(options.valeur("muets", 0));

    std::vector<Flux> flux(static_cast<size_t>(clients));
    std::vector<pollfd> attentes;
    for (Flux &f : flux) {
        f.descripteur = connexionAffichage(portAffichage);
        attentes.push_back(pollfd{f.descripteur, POLLIN, 0});
    }
    // Clients that never read: their small buffers fill at once and the
    // collector has to hold what they do not take.
    std::vector<int> silencieux;
    for (int i = 0; i < muets; ++i) {
        const int descripteur = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int petit = 4096;
        setsockopt(descripteur, SOL_SOCKET, SO_RCVBUF, &petit, sizeof petit);
        const sockaddr_in adresse = adresseIpv4(INADDR_LOOPBACK, portAffichage);
        if (descripteur < 0 || connect(descripteur, reinterpret_cast<const sockaddr *>(&adresse), sizeof adresse) != 0)
            echec("connexion d'affichage muette", std::strerror(errno));
        silencieux.push_back(descripteur);
    }
    const int emetteur = socketUdp(INADDR_LOOPBACK);
    const sockaddr_in cible = adresseIpv4(INADDR_LOOPBACK, port);

    const HyperviseurSimule modele(0, vms);
    const auto datagramme = [&modele](QByteArray &tampon, uint32_t sequence, const QByteArray &nom) {
        const QByteArray rapport = modele.rapport(std::time(nullptr), double(nanos(Horloge::now())) / 1e9);
        const int suite = rapport.indexOf("\",\"time\":");
        tampon.resize(0);
        ecrireSequence(tampon, sequence);
        tampon.append("{\"name\":\"").append(nom).append(rapport.mid(suite));
    };

    std::vector<std::atomic<long long>> envois(static_cast<size_t>(nombre));
    std::vector<long long> delais;
    delais.reserve(size_t(nombre) * size_t(clients));
    const QByteArray prefixe = "{\"name\":\"lat-";
    const auto surTrame = [&](const char *texte, size_t longueur, Horloge::time_point instant) {
        if (longueur <= size_t(prefixe.size()) || std::memcmp(texte, prefixe.constData(), size_t(prefixe.size())) != 0)
            return;
        const char *chiffre = texte + prefixe.size();
        if (*chiffre < '0' || *chiffre > '9')
            return;
        const long long indice = std::strtoll(chiffre, nullptr, 10);
        if (indice < 0 || indice >= nombre)
            return;
        delais.push_back(nanos(instant) - envois[size_t(indice)].load(std::memory_order_acquire));
    };
    const auto lireTout = [&](int delaiMs) {
        poll(attentes.data(), nfds_t(attentes.size()), delaiMs);
        for (Flux &f : flux) {
            if (!f.lire(surTrame))
                echec("connexion d'affichage", "fermée");
        }
    };

    // A connection counts only once the collector serves it: a warm-up
    // report goes out until every connection has had a frame.
    uint32_t sequence = 0;
    QByteArray tampon;
    const Horloge::time_point limite = Horloge::now() + std::chrono::seconds(10);
    for (;;) {
        bool tousServis = true;
        for (const Flux &f : flux)
            tousServis = tousServis && f.trames > 0;
        if (tousServis)
            break;
        if (Horloge::now() > limite)
            echec("connexion d'affichage", "aucune trame");
        datagramme(tampon, ++sequence, "echauffement");
        sendto(emetteur, tampon.constData(), size_t(tampon.size()), 0, reinterpret_cast<const sockaddr *>(&cible), sizeof cible);
        lireTout(20);
    }
    const Horloge::time_point calme = Horloge::now() + std::chrono::milliseconds(200);
    while (Horloge::now() < calme)
        lireTout(20);
    std::vector<long long> tramesAvant;
    for (const Flux &f : flux)
        tramesAvant.push_back(f.trames);

    std::atomic<bool> envoiTermine{false};
    std::thread envoi([&] {
        QByteArray donnees;
        const Horloge::time_point debut = Horloge::now();
        for (long long i = 0; i < nombre; ++i) {
            std::this_thread::sleep_until(
                debut + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(double(i) / rythme)));
            datagramme(donnees, ++sequence, "lat-" + QByteArray::number(i));
            envois[size_t(i)].store(nanos(Horloge::now()), std::memory_order_release);
            sendto(emetteur, donnees.constData(), size_t(donnees.size()), 0, reinterpret_cast<const sockaddr *>(&cible),
                   sizeof cible);
        }
        envoiTermine = true;
    });

    Horloge::time_point fin = Horloge::time_point::max();
    for (;;) {
        lireTout(20);
        if (delais.size() >= size_t(nombre) * size_t(clients))
            break;
        if (envoiTermine && fin == Horloge::time_point::max())
            fin = Horloge::now() + std::chrono::seconds(3);
        if (Horloge::now() > fin)
            break;
    }
    envoi.join();

    std::sort(delais.begin(), delais.end());
    std::printf("attendus=%lld\nechantillons=%zu\nmediane_us=%.1f\np99_us=%.1f\nmax_us=%.1f\n",
                nombre * clients, delais.size(), centile(delais, 0.5), centile(delais, 0.99), centile(delais, 1.0));
    for (const Flux &f : flux)
        close(f.descripteur);
    for (int descripteur : silencieux)
        close(descripteur);
    close(emetteur);
    return delais.size() == size_t(nombre) * size_t(clients) ? 0 : 1;
}

} // namespace

int ecart(const Options &options)
{
    const int port = int(options.valeur("port", 55000));
    const int portAffichage = int(options.valeur("affichage", 56000));
    const double rythme = options.valeur("rythme", 100);
    const double duree = options.valeur("duree", 10);
    const long long nombre = (long long)(rythme * duree);

    Flux affichage;
    affichage.descripteur = connexionAffichage(portAffichage);
    const int emetteur = socketUdp(INADDR_LOOPBACK | 0xFE00u);
    const sockaddr_in cible = adresseIpv4(INADDR_LOOPBACK, port);
    const HyperviseurSimule modele(0, 10);

    std::thread envoi([&] {
        QByteArray tampon;
        const Horloge::time_point debut = Horloge::now();
        for (long long i = 0; i < nombre; ++i) {
            std::this_thread::sleep_until(
                debut + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(double(i) / rythme)));
            tampon.resize(0);
            ecrireSequence(tampon, uint32_t(i + 1));
            tampon.append(modele.rapport(std::time(nullptr), double(i)));
            sendto(emetteur, tampon.constData(), size_t(tampon.size()), 0, reinterpret_cast<const sockaddr *>(&cible),
                   sizeof cible);
        }
    });

    long long plusLong = 0;
    Horloge::time_point precedente{};
    const auto surTrame = [&](const char *, size_t, Horloge::time_point instant) {
        if (precedente != Horloge::time_point{})
            plusLong = std::max(plusLong, nanos(instant) - nanos(precedente));
        precedente = instant;
    };
    const Horloge::time_point limite = Horloge::now() + std::chrono::duration_cast<Horloge::duration>(
                                                            std::chrono::duration<double>(duree + 30));
    while (affichage.trames < nombre && Horloge::now() < limite) {
        pollfd attente{affichage.descripteur, POLLIN, 0};
        poll(&attente, 1, 50);
        if (!affichage.lire(surTrame))
            echec("connexion d'affichage", "fermée");
    }
    envoi.join();
    std::printf("envoyes=%lld\ntrames=%lld\necart_max_ms=%.1f\n", nombre, affichage.trames, double(plusLong) / 1e6);
    close(affichage.descripteur);
    close(emetteur);
    return affichage.trames == nombre ? 0 : 1;
}

int main(int argc, char *argv[])
{
    const Options options = lireOptions(argc, argv);
    if (options.mode == "flotte")
        return flotte(options);
    if (options.mode == "latence")
        return latence(options);
    if (options.mode == "ecart")
        return ecart(options);
    std::fprintf(stderr, "Mode inconnu : %s (flotte, latence ou ecart)\n", options.mode.c_str());
    return 2;
}
