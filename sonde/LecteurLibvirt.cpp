// SPDX-License-Identifier: MIT
#include "LecteurLibvirt.h"

#include <QElapsedTimer>
#include <QXmlStreamReader>

#include <libvirt/virterror.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// libvirt prints every error on standard error by default; the agent says
// itself, once per change, what went wrong.
void ignorerErreur(void *, virErrorPtr) {}

qint64 maintenantMs()
{
    static QElapsedTimer horloge;
    if (!horloge.isValid())
        horloge.start();
    return horloge.elapsed();
}

const virTypedParameter *parametre(const virDomainStatsRecord *enregistrement, const char *nom)
{
    for (int i = 0; i < enregistrement->nparams; ++i) {
        if (std::strcmp(enregistrement->params[i].field, nom) == 0)
            return &enregistrement->params[i];
    }
    return nullptr;
}

std::optional<quint64> entier(const virDomainStatsRecord *enregistrement, const char *nom)
{
    const virTypedParameter *p = parametre(enregistrement, nom);
    if (!p)
        return std::nullopt;
    switch (p->type) {
    case VIR_TYPED_PARAM_INT: return quint64(qMax(0, p->value.i));
    case VIR_TYPED_PARAM_UINT: return quint64(p->value.ui);
    case VIR_TYPED_PARAM_LLONG: return quint64(qMax(Q_INT64_C(0), qint64(p->value.l)));
    case VIR_TYPED_PARAM_ULLONG: return quint64(p->value.ul);
    default: return std::nullopt;
    }
}

quint64 delta(quint64 avant, quint64 apres)
{
    return apres > avant ? apres - avant : 0;
}

double arrondi(double valeur, double echelle)
{
    return double(qRound64(valeur * echelle)) / echelle;
}

} // namespace

LecteurLibvirt::LecteurLibvirt(const QString &uri)
    : m_uri(uri)
{
    virSetErrorFunc(nullptr, ignorerErreur);
}

LecteurLibvirt::~LecteurLibvirt()
{
    deconnecter();
}

void LecteurLibvirt::noterErreur()
{
    const char *message = virGetLastErrorMessage();
    m_erreur = QString::fromUtf8(message ? message : "erreur inconnue");
}

bool LecteurLibvirt::connecter()
{
    if (m_connexion)
        return true;
    m_connexion = virConnectOpenReadOnly(m_uri.toUtf8().constData());
    if (!m_connexion) {
        noterErreur();
        m_perdue = false;
        return false;
    }
    virConnSetErrorFunc(m_connexion, nullptr, ignorerErreur);
    m_enBloc = true;
    return true;
}

void LecteurLibvirt::deconnecter()
{
    if (m_connexion)
        virConnectClose(m_connexion);
    m_connexion = nullptr;
    m_interfaces.clear();
}

EchantillonVms LecteurLibvirt::lire()
{
    EchantillonVms echantillon;
    if (!connecter())
        return echantillon;
    const qint64 instant = maintenantMs();
    if (m_enBloc ? lireEnBloc(echantillon, instant) : lireUnParUn(echantillon, instant)) {
        echantillon.lu = true;
        m_erreur.clear();
        return echantillon;
    }
    noterErreur();
    // A daemon that went away leaves a dead connection; the next reading
    // opens a new one.
    m_perdue = true;
    echantillon.domaines.clear();
    deconnecter();
    return echantillon;
}

bool LecteurLibvirt::lireEnBloc(EchantillonVms &echantillon, qint64 instantMs)
{
    virDomainStatsRecordPtr *enregistrements = nullptr;
    const unsigned int groupes = VIR_DOMAIN_STATS_STATE | VIR_DOMAIN_STATS_CPU_TOTAL | VIR_DOMAIN_STATS_BALLOON
                                 | VIR_DOMAIN_STATS_VCPU | VIR_DOMAIN_STATS_INTERFACE;
    const int nombre = virConnectGetAllDomainStats(m_connexion, groupes, &enregistrements, 0);
    if (nombre < 0) {
        const virErrorPtr erreur = virGetLastError();
        if (erreur && (erreur->code == VIR_ERR_NO_SUPPORT || erreur->code == VIR_ERR_ARGUMENT_UNSUPPORTED)) {
            m_enBloc = false;
            return lireUnParUn(echantillon, instantMs);
        }
        return false;
    }
    bool ok = true;
    for (int i = 0; i < nombre && ok; ++i) {
        const virDomainStatsRecord *enregistrement = enregistrements[i];
        EchantillonDomaine lu;
        lu.instantMs = instantMs;
        lu.nom = QString::fromUtf8(virDomainGetName(enregistrement->dom));
        char uuid[VIR_UUID_STRING_BUFLEN];
        if (virDomainGetUUIDString(enregistrement->dom, uuid) == 0)
            lu.uuid = QString::fromLatin1(uuid);
        const auto etat = entier(enregistrement, "state.state");
        const auto temps = entier(enregistrement, "cpu.time");
        const auto ram = entier(enregistrement, "balloon.current");
        const auto maxram = entier(enregistrement, "balloon.maximum");
        const auto vcpus = entier(enregistrement, "vcpu.current");
        lu.etat = int(etat.value_or(0));
        lu.tempsCpuNs = temps;
        lu.ramKio = qint64(ram.value_or(0));
        lu.maxramKio = qint64(maxram.value_or(0));
        lu.vcpus = int(vcpus.value_or(0));
        const bool infosManquantes = !etat || !temps || !ram || !maxram || !vcpus;

        const auto interfaces = entier(enregistrement, "net.count");
        if (interfaces) {
            QHash<QString, quint64> octets;
            for (quint64 n = 0; n < *interfaces; ++n) {
                const QByteArray prefixe = "net." + QByteArray::number(n) + '.';
                const virTypedParameter *nom = parametre(enregistrement, (prefixe + "name").constData());
                if (!nom || nom->type != VIR_TYPED_PARAM_STRING)
                    continue;
                octets.insert(QString::fromUtf8(nom->value.s),
                              entier(enregistrement, (prefixe + "rx.bytes").constData()).value_or(0)
                                  + entier(enregistrement, (prefixe + "tx.bytes").constData()).value_or(0));
            }
            lu.octetsInterfaces = octets;
        }
        if (infosManquantes || !interfaces)
            completer(enregistrement->dom, lu, infosManquantes, !interfaces);
        if (lu.nom.isEmpty() || lu.uuid.isEmpty())
            ok = false;
        else
            echantillon.domaines.append(lu);
    }
    virDomainStatsRecordListFree(enregistrements);
    return ok;
}

bool LecteurLibvirt::lireUnParUn(EchantillonVms &echantillon, qint64 instantMs)
{
    virDomainPtr *domaines = nullptr;
    const int nombre = virConnectListAllDomains(m_connexion, &domaines, 0);
    if (nombre < 0)
        return false;
    bool ok = true;
    for (int i = 0; i < nombre; ++i) {
        if (ok) {
            EchantillonDomaine lu;
            lu.instantMs = instantMs;
            const char *nom = virDomainGetName(domaines[i]);
            char uuid[VIR_UUID_STRING_BUFLEN];
            if (!nom || virDomainGetUUIDString(domaines[i], uuid) != 0) {
                ok = false;
            } else {
                lu.nom = QString::fromUtf8(nom);
                lu.uuid = QString::fromLatin1(uuid);
                completer(domaines[i], lu, true, true);
                echantillon.domaines.append(lu);
            }
        }
        virDomainFree(domaines[i]);
    }
    std::free(domaines);
    return ok;
}

void LecteurLibvirt::completer(virDomainPtr domaine, EchantillonDomaine &lu, bool infosManquantes, bool interfacesManquantes)
{
    if (infosManquantes) {
        virDomainInfo infos = {};
        if (virDomainGetInfo(domaine, &infos) == 0) {
            lu.etat = int(infos.state);
            lu.tempsCpuNs = quint64(infos.cpuTime);
            lu.vcpus = int(infos.nrVirtCpu);
            lu.ramKio = qint64(infos.memory);
            lu.maxramKio = qint64(infos.maxMem);
        }
    }
    // A stopped domain has no interfaces to read.
    if (!interfacesManquantes || lu.etat == VIR_DOMAIN_SHUTOFF)
        return;
    QHash<QString, quint64> octets;
    for (const QString &nom : interfaces(domaine)) {
        virDomainInterfaceStatsStruct statistiques = {};
        if (virDomainInterfaceStats(domaine, nom.toUtf8().constData(), &statistiques, sizeof statistiques) != 0)
            return;
        octets.insert(nom, quint64(qMax<long long>(0, statistiques.rx_bytes)) + quint64(qMax<long long>(0, statistiques.tx_bytes)));
    }
    lu.octetsInterfaces = octets;
}

QStringList LecteurLibvirt::interfaces(virDomainPtr domaine)
{
    char uuid[VIR_UUID_STRING_BUFLEN];
    virDomainGetUUIDString(domaine, uuid);
    const QString cle = QString::fromLatin1(uuid);
    const int id = int(virDomainGetID(domaine));
    const auto connu = m_interfaces.constFind(cle);
    if (connu != m_interfaces.constEnd() && connu->first == id)
        return connu->second;

    QStringList noms;
    char *description = virDomainGetXMLDesc(domaine, 0);
    if (!description)
        return noms;
    QXmlStreamReader xml(description);
    std::free(description);
    bool dansInterface = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("interface"))
            dansInterface = true;
        else if (xml.isEndElement() && xml.name() == QLatin1String("interface"))
            dansInterface = false;
        else if (dansInterface && xml.isStartElement() && xml.name() == QLatin1String("target")) {
            const QString nom = xml.attributes().value(QLatin1String("dev")).toString();
            if (!nom.isEmpty())
                noms.append(nom);
        }
    }
    m_interfaces.insert(cle, qMakePair(id, noms));
    return noms;
}

MesuresVm MesuresVm::calculer(const EchantillonDomaine *avant, const EchantillonDomaine &apres)
{
    MesuresVm mesures;
    mesures.nom = apres.nom;
    mesures.uuid = apres.uuid;
    mesures.etat = apres.etat;
    mesures.maxram = apres.maxramKio;
    const bool arrete = apres.etat == VIR_DOMAIN_SHUTOFF;
    // A stopped domain holds no memory and uses neither CPU nor network,
    // whatever its configuration says.
    mesures.ram = arrete ? 0 : apres.ramKio;
    if (arrete) {
        mesures.cpu = 0.0;
        mesures.network = 0.0;
        return mesures;
    }
    if (!avant)
        return mesures;
    const double secondes = double(apres.instantMs - avant->instantMs) / 1000.0;
    if (secondes <= 0)
        return mesures;
    if (avant->tempsCpuNs && apres.tempsCpuNs && apres.vcpus > 0) {
        const double occupe = double(delta(*avant->tempsCpuNs, *apres.tempsCpuNs)) / 1e9;
        mesures.cpu = arrondi(qBound(0.0, 100.0 * occupe / (secondes * apres.vcpus), 100.0), 10);
    }
    if (avant->octetsInterfaces && apres.octetsInterfaces) {
        quint64 octets = 0;
        for (auto it = apres.octetsInterfaces->constBegin(); it != apres.octetsInterfaces->constEnd(); ++it) {
            const auto precedent = avant->octetsInterfaces->constFind(it.key());
            if (precedent != avant->octetsInterfaces->constEnd())
                octets += delta(precedent.value(), it.value());
        }
        mesures.network = arrondi(double(octets) * 8.0 / 1e6 / secondes, 100);
    }
    return mesures;
}
