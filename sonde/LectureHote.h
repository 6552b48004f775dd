// SPDX-License-Identifier: MIT
#ifndef LECTUREHOTE_H
#define LECTUREHOTE_H

#include <QHash>
#include <QMap>
#include <QString>
#include <QVector>

#include <array>
#include <optional>

// What one reading of the host's files gives. Counters are kept raw, so that
// the report's rates come from two readings; a measure that could not be read
// carries its reason instead.
struct EchantillonHote
{
    // Milliseconds on a steady clock: only the gap between two readings counts.
    qint64 instantMs = 0;

    // Per CPU number, the ten counters of its /proc/stat line in their order
    // (user nice system idle iowait irq softirq steal guest guest_nice).
    QMap<int, std::array<quint64, 10>> cpus;
    QString erreurCpu;

    std::optional<double> ram;
    QString erreurRam;

    std::optional<double> disque;
    QString erreurDisque;

    // Bytes received plus sent, per physical interface.
    QHash<QString, quint64> octetsReseau;
    QString erreurReseau;

    std::optional<double> cputemp;
    QString erreurCputemp;
    std::optional<double> mbtemp;
    QString erreurMbtemp;
};

// The host's measures in the report's units; `absences` gives, for each report
// key left out, why.
struct MesuresHote
{
    std::optional<double> cpu;
    std::optional<double> ram;
    std::optional<double> disk;
    std::optional<double> network;
    std::optional<double> cputemp;
    std::optional<double> mbtemp;
    QMap<QString, QString> absences;

    static MesuresHote calculer(const EchantillonHote &avant, const EchantillonHote &apres);
};

// Reads /proc and /sys under `racine` (normally /), and the filesystem that
// holds the VM images.
class LectureHote
{
public:
    // `disque` as the user gave it (empty: the images folder, else /).
    LectureHote(const QString &racine, const QString &disque);

    EchantillonHote lire() const;

    QString chemin(const QString &absolu) const { return m_racine + absolu; }
    QString cheminDisque() const;

    // The share of a filesystem in use, as df gives it, from its block
    // counts (statvfs's f_blocks, f_bfree, f_bavail); none for a filesystem
    // without size.
    static std::optional<double> occupationDisque(quint64 blocs, quint64 libres, quint64 disponibles);

private:
    void lireCpu(EchantillonHote &echantillon) const;
    void lireMemoire(EchantillonHote &echantillon) const;
    void lireDisque(EchantillonHote &echantillon) const;
    void lireReseau(EchantillonHote &echantillon) const;

    QString m_racine;
    QString m_disque;
};

#endif
