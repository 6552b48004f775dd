// SPDX-License-Identifier: MIT
#include "HyperviseurSimule.h"

#include "DatagrammeRapport.h"
#include "PrefixesRapport.h"

#include <QStringList>
#include <QUuid>

#include <cmath>

namespace {

constexpr double deuxPi = 6.283185307179586;

// Libvirt's domain states, which agents usually pass on unchanged.
constexpr int etatActif = 1;
constexpr int etatEnPause = 3;
constexpr int etatArrete = 5;

const char *const roles[] = {"web", "db", "cache", "api", "mail", "build", "dns", "backup"};
constexpr qint64 tailles[] = {524288, 1048576, 2097152, 4194304, 8388608};

// A reproducible draw per (hypervisor, VM, measure): the same fleet gives the
// same curves from one run to the next.
class Tirage
{
public:
    explicit Tirage(quint64 graine) : m_etat(graine) {}
    double entre(double min, double max) { return min + (max - min) * double(suivant() >> 11) / 9007199254740992.0; }
    quint64 suivant()
    {
        quint64 z = (m_etat += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    quint64 m_etat;
};

// Fixed-point text without QByteArray::number's general double formatting,
// which dominates the cost of a report otherwise.
void ajouterEntier(QByteArray &tampon, qint64 valeur)
{
    char chiffres[24];
    int n = 0;
    const bool negatif = valeur < 0;
    quint64 reste = negatif ? quint64(0) - quint64(valeur) : quint64(valeur);
    do {
        chiffres[n++] = char('0' + reste % 10);
        reste /= 10;
    } while (reste > 0);
    if (negatif)
        tampon.append('-');
    while (n > 0)
        tampon.append(chiffres[--n]);
}

void ajouterDecimal(QByteArray &tampon, double valeur, int decimales)
{
    qint64 echelle = 1;
    for (int i = 0; i < decimales; ++i)
        echelle *= 10;
    const qint64 arrondi = qint64(std::llround(valeur * double(echelle)));
    if (arrondi < 0)
        tampon.append('-');
    const quint64 absolu = arrondi < 0 ? quint64(0) - quint64(arrondi) : quint64(arrondi);
    ajouterEntier(tampon, qint64(absolu / quint64(echelle)));
    if (decimales > 0)
        tampon.append('.');
    quint64 fraction = absolu % quint64(echelle);
    for (qint64 puissance = echelle / 10; puissance > 0; puissance /= 10) {
        tampon.append(char('0' + fraction / quint64(puissance)));
        fraction %= quint64(puissance);
    }
}

void ajouterMesure(QByteArray &tampon, const PrefixeCle &cle, double valeur)
{
    tampon.append(cle.octets);
    ajouterDecimal(tampon, valeur, cle.decimales);
}

double borne(double valeur, double min, double max)
{
    return qBound(min, valeur, max);
}

} // namespace

double HyperviseurSimule::Onde::valeur(double instant) const
{
    // Two harmonics so the curve does not look like a pure sine.
    const double angle = deuxPi * instant / periode + phase;
    return base + amplitude * (0.75 * std::sin(angle) + 0.25 * std::sin(3.1 * angle + 1.3 * phase));
}

HyperviseurSimule::HyperviseurSimule(int indice, int nombreVms)
    : m_nom(nomDe(indice))
{
    Tirage tirage(quint64(indice) * 1000003u + 17u);
    auto onde = [&tirage](double minBase, double maxBase, double amplitude, double minPeriode, double maxPeriode) {
        return Onde{tirage.entre(minBase, maxBase), amplitude, tirage.entre(minPeriode, maxPeriode), tirage.entre(0, deuxPi)};
    };
    m_cputemp = onde(42, 55, 8, 120, 600);
    m_mbtemp = onde(32, 40, 3, 300, 900);
    m_cpu = onde(20, 50, 18, 60, 300);
    m_ram = onde(40, 70, 10, 300, 1200);
    m_disque = onde(25, 70, 3, 1800, 7200);
    m_reseau = onde(5, 40, 12, 30, 240);
    const PrefixesRapport &cles = PrefixesRapport::instance();
    m_debut = cles.debut + '"' + m_nom.toLatin1() + '"' + cles.temps.octets;

    const QUuid espace(QStringLiteral("{6f1c2a4e-5b3d-4e8f-9a7c-2d1e0f3b4c5a}"));
    for (int j = 0; j < qMax(0, nombreVms); ++j) {
        const int numero = indice * nombreVms + j;
        Vm vm;
        vm.nom = QStringLiteral("vm-%1-%2")
                     .arg(QLatin1String(roles[numero % 8]))
                     .arg(numero / 8 + 1, 2, 10, QLatin1Char('0'));
        vm.uuid = QUuid::createUuidV5(espace, m_nom + QLatin1Char('/') + vm.nom).toString(QUuid::WithoutBraces);
        vm.debut = cles.debut + '"' + vm.nom.toLatin1() + '"' + cles.uuidVm.octets + '"' + vm.uuid.toLatin1() + '"'
                   + cles.etatVm.octets;
        vm.etat = numero % 10 == 7 ? etatArrete : numero % 10 == 9 ? etatEnPause : etatActif;
        vm.maxram = tailles[tirage.suivant() % 5];
        vm.cpu = onde(5, 45, 25, 20, 240);
        vm.ram = onde(0.35, 0.75, 0.15, 300, 1800);
        vm.reseau = onde(0.2, 8, 4, 15, 120);
        m_vms.append(vm);
    }
}

QStringList HyperviseurSimule::nomsVms() const
{
    QStringList noms;
    for (const Vm &vm : m_vms)
        noms.append(vm.nom);
    return noms;
}

QStringList HyperviseurSimule::uuidsVms() const
{
    QStringList uuids;
    for (const Vm &vm : m_vms)
        uuids.append(vm.uuid);
    return uuids;
}

QString HyperviseurSimule::nomDe(int indice)
{
    return QStringLiteral("hv-lab-%1").arg(indice + 1, 2, 10, QLatin1Char('0'));
}

QByteArray HyperviseurSimule::rapport(qint64 temps, double instant) const
{
    QByteArray tampon;
    tampon.reserve(200 + 190 * m_vms.size());
    ajouterRapport(tampon, temps, instant);
    return tampon;
}

void HyperviseurSimule::ecrireDatagramme(QByteArray &tampon, quint32 sequence, qint64 temps, double instant) const
{
    tampon.reserve(200 + 190 * m_vms.size());
    DatagrammeRapport::commencer(tampon, sequence);
    ajouterRapport(tampon, temps, instant);
}

void HyperviseurSimule::ajouterRapport(QByteArray &tampon, qint64 temps, double instant) const
{
    const PrefixesRapport &cles = PrefixesRapport::instance();
    tampon.append(m_debut);
    ajouterEntier(tampon, temps);
    ajouterMesure(tampon, cles.cputemp, borne(m_cputemp.valeur(instant), 20, 95));
    ajouterMesure(tampon, cles.mbtemp, borne(m_mbtemp.valeur(instant), 20, 70));
    ajouterMesure(tampon, cles.cpu, borne(m_cpu.valeur(instant), 0, 100));
    ajouterMesure(tampon, cles.ram, borne(m_ram.valeur(instant), 0, 100));
    ajouterMesure(tampon, cles.disque, borne(m_disque.valeur(instant), 0, 100));
    ajouterMesure(tampon, cles.reseau, borne(m_reseau.valeur(instant), 0, 1000));
    tampon.append(cles.vms);
    for (int j = 0; j < m_vms.size(); ++j) {
        const Vm &vm = m_vms.at(j);
        if (j > 0)
            tampon.append(',');
        tampon.append(vm.debut);
        ajouterEntier(tampon, vm.etat);
        const bool actif = vm.etat == etatActif;
        ajouterMesure(tampon, cles.cpuVm, actif ? borne(vm.cpu.valeur(instant), 0, 100) : 0.0);
        tampon.append(cles.ramVm.octets);
        ajouterEntier(tampon, vm.etat == etatArrete ? 0 : qint64(double(vm.maxram) * borne(vm.ram.valeur(instant), 0.05, 1)));
        tampon.append(cles.ramMaxVm.octets);
        ajouterEntier(tampon, vm.maxram);
        ajouterMesure(tampon, cles.reseauVm, actif ? borne(vm.reseau.valeur(instant), 0, 1000) : 0.0);
        tampon.append('}');
    }
    tampon.append("]}");
}
