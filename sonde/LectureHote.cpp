// SPDX-License-Identifier: MIT
#include "LectureHote.h"

#include "ClesRapport.h"
#include "Temperatures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

constexpr const char *imagesParDefaut = "/var/lib/libvirt/images";

// The whole file, or the reason it could not be read. /proc files report a
// size of 0, so they are read to their end rather than by size.
bool lireFichier(const QString &chemin, QByteArray &contenu, QString &erreur)
{
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::ReadOnly)) {
        erreur = QStringLiteral("%1 illisible (%2)").arg(chemin, fichier.errorString());
        return false;
    }
    contenu = fichier.readAll();
    return true;
}

quint64 delta(quint64 avant, quint64 apres)
{
    return apres > avant ? apres - avant : 0;
}

double arrondi(double valeur, int decimales)
{
    const double echelle = std::pow(10.0, decimales);
    return std::round(valeur * echelle) / echelle;
}

} // namespace

LectureHote::LectureHote(const QString &racine, const QString &disque)
    : m_racine(QDir::cleanPath(racine) == QLatin1String("/") ? QString() : QDir::cleanPath(racine))
    , m_disque(disque)
{
}

QString LectureHote::cheminDisque() const
{
    if (!m_disque.isEmpty())
        return chemin(m_disque);
    const QString images = chemin(QString::fromLatin1(imagesParDefaut));
    return QFileInfo(images).isDir() ? images : chemin(QStringLiteral("/"));
}

EchantillonHote LectureHote::lire() const
{
    static QElapsedTimer horloge;
    if (!horloge.isValid())
        horloge.start();
    EchantillonHote echantillon;
    echantillon.instantMs = horloge.elapsed();
    lireCpu(echantillon);
    lireMemoire(echantillon);
    lireDisque(echantillon);
    lireReseau(echantillon);
    const Temperatures temperatures(m_racine);
    echantillon.cputemp = temperatures.processeur(echantillon.erreurCputemp);
    echantillon.mbtemp = temperatures.carteMere(echantillon.erreurMbtemp);
    return echantillon;
}

void LectureHote::lireCpu(EchantillonHote &echantillon) const
{
    QByteArray contenu;
    if (!lireFichier(chemin(QStringLiteral("/proc/stat")), contenu, echantillon.erreurCpu))
        return;
    for (const QByteArray &ligne : contenu.split('\n')) {
        // Only the per-CPU lines: the total line loses an offline CPU's whole
        // idle time at once, which would read as a busy machine.
        if (!ligne.startsWith("cpu") || ligne.size() < 4 || ligne.at(3) < '0' || ligne.at(3) > '9')
            continue;
        const QList<QByteArray> champs = ligne.simplified().split(' ');
        bool ok = false;
        const int numero = champs.at(0).mid(3).toInt(&ok);
        if (!ok)
            continue;
        std::array<quint64, 10> compteurs{};
        for (int i = 0; i < 10 && i + 1 < champs.size(); ++i)
            compteurs[size_t(i)] = champs.at(i + 1).toULongLong();
        echantillon.cpus.insert(numero, compteurs);
    }
    if (echantillon.cpus.isEmpty())
        echantillon.erreurCpu = QStringLiteral("aucune ligne cpuN dans %1").arg(chemin(QStringLiteral("/proc/stat")));
}

void LectureHote::lireMemoire(EchantillonHote &echantillon) const
{
    QByteArray contenu;
    const QString fichier = chemin(QStringLiteral("/proc/meminfo"));
    if (!lireFichier(fichier, contenu, echantillon.erreurRam))
        return;
    qint64 total = -1;
    qint64 disponible = -1;
    for (const QByteArray &ligne : contenu.split('\n')) {
        const QList<QByteArray> champs = ligne.simplified().split(' ');
        if (champs.size() < 2)
            continue;
        if (champs.at(0) == "MemTotal:")
            total = champs.at(1).toLongLong();
        else if (champs.at(0) == "MemAvailable:")
            disponible = champs.at(1).toLongLong();
    }
    if (total <= 0 || disponible < 0) {
        echantillon.erreurRam = QStringLiteral("MemTotal ou MemAvailable absent de %1").arg(fichier);
        return;
    }
    echantillon.ram = qBound(0.0, 100.0 * (1.0 - double(disponible) / double(total)), 100.0);
}

void LectureHote::lireDisque(EchantillonHote &echantillon) const
{
    const QString dossier = cheminDisque();
    struct statvfs etat = {};
    if (::statvfs(QFile::encodeName(dossier).constData(), &etat) != 0) {
        echantillon.erreurDisque = QStringLiteral("%1 illisible (%2)").arg(dossier, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    echantillon.disque = occupationDisque(etat.f_blocks, etat.f_bfree, etat.f_bavail);
    if (!echantillon.disque)
        echantillon.erreurDisque = QStringLiteral("système de fichiers de %1 sans taille").arg(dossier);
}

std::optional<double> LectureHote::occupationDisque(quint64 blocs, quint64 libres, quint64 disponibles)
{
    // As df: the blocks kept for root are neither used nor available to users.
    const double utilise = double(delta(libres, blocs));
    const double total = utilise + double(disponibles);
    if (total <= 0)
        return std::nullopt;
    return 100.0 * utilise / total;
}

void LectureHote::lireReseau(EchantillonHote &echantillon) const
{
    QByteArray contenu;
    if (!lireFichier(chemin(QStringLiteral("/proc/net/dev")), contenu, echantillon.erreurReseau))
        return;
    const QString virtuelles = chemin(QStringLiteral("/sys/devices/virtual/net/"));
    for (const QByteArray &ligne : contenu.split('\n')) {
        const int deuxPoints = ligne.indexOf(':');
        if (deuxPoints < 0)
            continue;
        const QString nom = QString::fromLatin1(ligne.left(deuxPoints).trimmed());
        // Loopback, bridges, taps, bonds and VLANs carry traffic already
        // counted on a physical interface, or none leaving the host.
        if (nom.isEmpty() || QFileInfo::exists(virtuelles + nom))
            continue;
        const QList<QByteArray> champs = ligne.mid(deuxPoints + 1).simplified().split(' ');
        if (champs.size() < 9)
            continue;
        echantillon.octetsReseau.insert(nom, champs.at(0).toULongLong() + champs.at(8).toULongLong());
    }
}

MesuresHote MesuresHote::calculer(const EchantillonHote &avant, const EchantillonHote &apres)
{
    MesuresHote mesures;
    const double secondes = double(apres.instantMs - avant.instantMs) / 1000.0;

    if (!apres.erreurCpu.isEmpty() || !avant.erreurCpu.isEmpty()) {
        mesures.absences.insert(ClesRapport::cpu, apres.erreurCpu.isEmpty() ? avant.erreurCpu : apres.erreurCpu);
    } else {
        quint64 occupe = 0;
        quint64 total = 0;
        for (auto it = apres.cpus.constBegin(); it != apres.cpus.constEnd(); ++it) {
            const auto precedent = avant.cpus.constFind(it.key());
            if (precedent == avant.cpus.constEnd())
                continue;
            std::array<quint64, 10> d{};
            for (size_t i = 0; i < d.size(); ++i)
                d[i] = delta(precedent.value()[i], it.value()[i]);
            // Guest time is already inside user and nice.
            const quint64 cpuOccupe = delta(d[8], d[0]) + delta(d[9], d[1]) + d[2] + d[5] + d[6] + d[7];
            occupe += cpuOccupe;
            total += cpuOccupe + d[3] + d[4];
        }
        if (total == 0)
            mesures.absences.insert(ClesRapport::cpu, QStringLiteral("aucun temps écoulé dans /proc/stat entre deux lectures"));
        else
            mesures.cpu = arrondi(100.0 * double(occupe) / double(total), 1);
    }

    // Values of the moment: the latest reading alone, or why it failed.
    const auto instantanee = [&mesures](const std::optional<double> &lue, const QString &erreur, QLatin1String cle,
                                        std::optional<double> &mesure) {
        if (lue)
            mesure = arrondi(*lue, 1);
        else
            mesures.absences.insert(cle, erreur);
    };
    instantanee(apres.ram, apres.erreurRam, ClesRapport::ram, mesures.ram);
    instantanee(apres.disque, apres.erreurDisque, ClesRapport::disque, mesures.disk);

    if (!apres.erreurReseau.isEmpty() || !avant.erreurReseau.isEmpty()) {
        mesures.absences.insert(ClesRapport::reseau, apres.erreurReseau.isEmpty() ? avant.erreurReseau : apres.erreurReseau);
    } else if (secondes <= 0) {
        mesures.absences.insert(ClesRapport::reseau, QStringLiteral("aucun temps écoulé entre deux lectures"));
    } else {
        quint64 octets = 0;
        for (auto it = apres.octetsReseau.constBegin(); it != apres.octetsReseau.constEnd(); ++it) {
            const auto precedent = avant.octetsReseau.constFind(it.key());
            if (precedent != avant.octetsReseau.constEnd())
                octets += delta(precedent.value(), it.value());
        }
        mesures.network = arrondi(double(octets) * 8.0 / 1e6 / secondes, 2);
    }

    instantanee(apres.cputemp, apres.erreurCputemp, ClesRapport::temperatureCpu, mesures.cputemp);
    instantanee(apres.mbtemp, apres.erreurMbtemp, ClesRapport::temperatureCarteMere, mesures.mbtemp);
    return mesures;
}
