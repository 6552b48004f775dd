// SPDX-License-Identifier: MIT
#include "ApplicationWeb.h"

#include "Console.h"
#include "ExportHistorique.h"
#include "ExpositionMetriques.h"
#include "FichierArchive.h"
#include "Historique.h"
#include "LecteurRapport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

qint64 maintenant()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString adresseAffichee(const QHostAddress &adresse, quint16 port)
{
    return adresse.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2").arg(adresse.toString()).arg(port)
                                                               : QStringLiteral("%1:%2").arg(adresse.toString()).arg(port);
}

ReponseHttp json(const QByteArray &corps)
{
    ReponseHttp reponse;
    reponse.corps = corps;
    return reponse;
}

} // namespace

ApplicationWeb::ApplicationWeb(const ParametresWeb &parametres, QObject *parent)
    : QObject(parent)
    , m_parametres(parametres)
    , m_archive(QDir(parametres.archive.isEmpty() ? FichierArchive::dossierParDefaut(parametres.sauvegardes)
                                                  : parametres.archive)
                    .absolutePath())
    , m_flotte(qint64(parametres.fenetreMinutes) * 60000)
    , m_client(parametres.hoteCollecteur, parametres.portCollecteur)
    , m_alertes(parametres.alertes, &maintenant)
    , m_acces(&maintenant)
{
    connect(&m_client, &ClientCollecteur::rapportRecu, this, &ApplicationWeb::recevoir);
    connect(&m_client, &ClientCollecteur::connexionChangee, this, &ApplicationWeb::connexionChangee);
    m_publication.setSingleShot(true);
    m_publication.setTimerType(Qt::PreciseTimer);
    connect(&m_publication, &QTimer::timeout, this, &ApplicationWeb::publier);
    connect(&m_entretien, &QTimer::timeout, this, &ApplicationWeb::entretenir);
    m_publicationAlertes.setSingleShot(true);
    m_publicationAlertes.setInterval(delaiAlertes);
    connect(&m_alertes, &ServiceAlertes::alertesChangees, this, [this]() {
        if (!m_publicationAlertes.isActive())
            m_publicationAlertes.start();
    });
    connect(&m_publicationAlertes, &QTimer::timeout, this, &ApplicationWeb::publierAlertes);
    connect(&m_journalAcces, &QTimer::timeout, this, [this]() { m_acces.journaliser(); });

    m_serveur.ajouterRoute(QStringLiteral("/api/flotte"), ServeurHttp::FilDuServeur, [this](const RequeteHttp &) {
        return json(m_flotte.instantane(maintenant(), m_client.estConnecte()));
    });
    m_serveur.ajouterRoute(QStringLiteral("/api/hyperviseur"), ServeurHttp::FilDuServeur,
                           [this](const RequeteHttp &requete) { return hyperviseur(requete); });
    m_serveur.ajouterRoute(QStringLiteral("/api/flux"), ServeurHttp::FilDuServeur,
                           [this](const RequeteHttp &requete) { return flux(requete); });
    m_serveur.ajouterRoute(QStringLiteral("/metrics"), ServeurHttp::FilDuServeur,
                           [this](const RequeteHttp &requete) { return metriques(requete); });
    m_serveur.ajouterRoute(QStringLiteral("/api/alertes"), ServeurHttp::FilDuServeur,
                           [this](const RequeteHttp &) { return json(m_alertes.json()); });
    m_serveur.ajouterRoute(QStringLiteral("/api/alertes/historique"), ServeurHttp::FilDuServeur,
                           [this](const RequeteHttp &) { return json(m_alertes.historique()); });
    const QString sauvegardes = QDir(parametres.sauvegardes).absolutePath();
    m_serveur.ajouterRoute(QStringLiteral("/api/historique"), ServeurHttp::ArrierePlan,
                           [sauvegardes, archive = m_archive](const RequeteHttp &requete) {
                               return historique(sauvegardes, archive, requete);
                           });
}

bool ApplicationWeb::preparerAcces()
{
    if (!m_parametres.tlsCertificat.isEmpty()) {
        QFile certificat(m_parametres.tlsCertificat);
        QFile cle(m_parametres.tlsCle);
        if (!certificat.open(QIODevice::ReadOnly)) {
            Console::erreur(QStringLiteral("Certificat TLS illisible : %1 : %2.").arg(certificat.fileName(), certificat.errorString()));
            return false;
        }
        if (!cle.open(QIODevice::ReadOnly)) {
            Console::erreur(QStringLiteral("Clé TLS illisible : %1 : %2.").arg(cle.fileName(), cle.errorString()));
            return false;
        }
        m_serveur.fixerTls(certificat.readAll(), cle.readAll());
    }
    if (m_parametres.utilisateurs.isEmpty())
        return true;
    QString erreur;
    if (!m_acces.lire(m_parametres.utilisateurs, erreur)) {
        Console::erreur(QStringLiteral("Utilisateurs illisibles : %1.").arg(erreur));
        return false;
    }
    m_acces.fixerMetriquesLibres(m_parametres.metriquesLibres);
    m_serveur.fixerControle([this](const QString &chemin, const QByteArray &autorisation, const QString &adresse,
                                   ReponseHttp &refus) { return m_acces.autoriser(chemin, autorisation, adresse, refus); });
    return true;
}

bool ApplicationWeb::demarrer()
{
    QString erreur;
    QString resume;
    if (!m_alertes.lireRegles(resume, erreur)) {
        Console::erreur(QStringLiteral("Règles illisibles : %1.").arg(erreur));
        return false;
    }
    if (!preparerAcces())
        return false;
    if (!m_serveur.demarrer(m_parametres.ecoute, m_parametres.portEcoute, &erreur)) {
        if (m_serveur.tlsRefuse())
            Console::erreur(QStringLiteral("Certificat ou clé TLS refusés (%1, %2) : %3.")
                                 .arg(m_parametres.tlsCertificat, m_parametres.tlsCle, erreur));
        else
            Console::erreur(QStringLiteral("Écoute impossible sur %1 : %2.")
                                 .arg(adresseAffichee(m_parametres.ecoute, m_parametres.portEcoute), erreur));
        return false;
    }
    const QString adresse = QStringLiteral("%1://%2")
                                .arg(m_serveur.tls() ? QStringLiteral("https") : QStringLiteral("http"),
                                     adresseAffichee(m_parametres.ecoute, m_serveur.port()));
    Console::erreur(QStringLiteral("Tableau de bord sur %1/ (sauvegardes lues dans %2, archive dans %3).")
                         .arg(adresse, QDir(m_parametres.sauvegardes).absolutePath(), m_archive));
    if (!m_parametres.utilisateurs.isEmpty()) {
        Console::erreur(m_acces.resume());
        m_journalAcces.start(int(LimiteEchecs::fenetre));
    }
    if (!resume.isEmpty())
        Console::erreur(QStringLiteral("Règles lues dans %1.").arg(resume));
    if (!m_alertes.demarrer(adresse, erreur)) {
        Console::erreur(QStringLiteral("État des alertes impossible à garder : %1.").arg(erreur));
        m_serveur.arreter();
        return false;
    }
    Console::erreur(m_alertes.resume());
    m_demarre = true;
    planifier(m_flotte.prochainePublication());
    m_entretien.start(periodeEntretien);
    m_client.demarrer();
    return true;
}

void ApplicationWeb::recharger()
{
    m_alertes.recharger();
    if (!m_parametres.utilisateurs.isEmpty())
        Console::erreur(m_acces.relire());
}

void ApplicationWeb::arreter()
{
    m_journalAcces.stop();
    m_demarre = false;
    m_publication.stop();
    m_entretien.stop();
    m_publicationAlertes.stop();
    m_alertes.arreter();
    m_serveur.arreter();
}

void ApplicationWeb::recevoir(const QString &texte)
{
    RapportHyperviseur rapport;
    if (!LecteurRapport::decoder(texte, rapport)) {
        ++m_invalides;
        return;
    }
    planifier(m_flotte.ajouter(rapport, maintenant()));
    m_alertes.recevoir(rapport, m_flotte.hotes().constFind(rapport.nom)->intervalle);
}

void ApplicationWeb::publier()
{
    m_dernierePublication = maintenant();
    m_publication.stop();
    const EtatFlotte::Publication publication = m_flotte.publier(m_dernierePublication);
    if (!publication.maj.isEmpty()) {
        m_serveur.diffuser(ServeurHttp::evenement("maj", publication.maj));
        for (auto it = publication.vms.constBegin(); it != publication.vms.constEnd(); ++it)
            m_serveur.diffuser(ServeurHttp::evenement("vms", it.value()), it.key());
    }
    planifier(m_flotte.prochainePublication());
}

void ApplicationWeb::planifier(qint64 instant)
{
    if (!m_demarre || instant < 0)
        return;
    instant = qMax(instant, m_dernierePublication + delaiLot);
    if (m_publication.isActive() && m_prochainePublication <= instant)
        return;
    m_prochainePublication = instant;
    // Bounded, so that a change of the system clock is caught up within a minute.
    m_publication.start(int(qBound(qint64(0), instant - maintenant(), qint64(60000))));
}

void ApplicationWeb::connexionChangee(bool connecte)
{
    m_serveur.diffuser(ServeurHttp::evenement("etat", connecte ? "{\"connecte\":true}" : "{\"connecte\":false}"));
}

void ApplicationWeb::entretenir()
{
    m_serveur.diffuser(": \n\n");
}

void ApplicationWeb::publierAlertes()
{
    m_serveur.diffuser(ServeurHttp::evenement("alertes", m_alertes.json()));
}

ReponseHttp ApplicationWeb::flux(const RequeteHttp &requete)
{
    ReponseHttp reponse;
    reponse.flux = true;
    reponse.filtre = requete.parametres.value(QStringLiteral("hyperviseur"));
    // The page reconnects on its own: three seconds after a loss.
    reponse.corps = "retry: 3000\n\n"
                    + ServeurHttp::evenement("instantane", m_flotte.instantane(maintenant(), m_client.estConnecte()))
                    + ServeurHttp::evenement("alertes", m_alertes.json());
    if (!reponse.filtre.isEmpty()) {
        const QByteArray vms = m_flotte.vms(reponse.filtre);
        if (!vms.isEmpty())
            reponse.corps += ServeurHttp::evenement("vms", vms);
    }
    return reponse;
}

ReponseHttp ApplicationWeb::hyperviseur(const RequeteHttp &requete)
{
    const QByteArray detail = m_flotte.detail(requete.parametres.value(QStringLiteral("nom")), maintenant());
    if (detail.isEmpty())
        return ReponseHttp::texte(404, QStringLiteral("Hyperviseur inconnu."));
    return json(detail);
}

ReponseHttp ApplicationWeb::metriques(const RequeteHttp &)
{
    CompteursWeb compteurs;
    compteurs.connecte = m_client.estConnecte();
    compteurs.trames = m_client.trames();
    compteurs.reconnexions = m_client.reconnexions();
    compteurs.invalides = m_invalides;
    compteurs.pages = m_serveur.pages();
    ReponseHttp reponse;
    reponse.type = ExpositionMetriques::typeContenu;
    reponse.corps = ExpositionMetriques::texte(m_flotte, compteurs, maintenant())
                    + m_alertes.metriques();
    return reponse;
}

ReponseHttp ApplicationWeb::historique(const QString &sauvegardes, const QString &archive, const RequeteHttp &requete)
{
    DemandeHistorique demande;
    demande.sauvegardes = sauvegardes;
    demande.archive = archive;
    demande.hyperviseur = requete.parametres.value(QStringLiteral("hyperviseur"));
    const QString vm = requete.parametres.value(QStringLiteral("vm"));
    if (!vm.isEmpty())
        demande.vm = vm;
    // The host's page draws its own series alone: its VMs' rows, twenty
    // times as many, are not read for it.
    demande.vms = requete.parametres.value(QStringLiteral("vms")) != QLatin1String("aucune");
    bool depuisLu = false;
    bool jusquaLu = false;
    demande.depuis = requete.parametres.value(QStringLiteral("depuis")).toLongLong(&depuisLu);
    demande.jusqua = requete.parametres.value(QStringLiteral("jusqua")).toLongLong(&jusquaLu);
    const QString format = requete.parametres.value(QStringLiteral("format"), QStringLiteral("json"));
    if (demande.hyperviseur.isEmpty() || !depuisLu || !jusquaLu || demande.depuis < 0 || demande.jusqua < demande.depuis
        || demande.jusqua - demande.depuis > dureeHistoriqueMaximum
        || (format != QLatin1String("json") && format != QLatin1String("csv")))
        return ReponseHttp::texte(400, QStringLiteral("Attendu : hyperviseur=NOM&depuis=T&jusqua=T[&vm=NOM|&vms=aucune][&format=csv] "
                                                      "(secondes Unix, au plus %1 jours).")
                                           .arg(dureeHistoriqueMaximum / 86400));
    const Historique lu = Historique::lire(demande);
    if (format == QLatin1String("json"))
        return json(ExportHistorique::json(lu));
    ReponseHttp reponse;
    reponse.type = "text/csv; charset=utf-8";
    reponse.corps = ExportHistorique::csv(lu);
    reponse.entetes.append({"Content-Disposition", "attachment; filename=\"" + ExportHistorique::nomCsv(lu) + '"'});
    return reponse;
}
