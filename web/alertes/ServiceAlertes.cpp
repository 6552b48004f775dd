// SPDX-License-Identifier: MIT
#include "ServiceAlertes.h"

#include "Console.h"
#include "DestinataireCourriel.h"
#include "DestinataireHttp.h"
#include "ExpositionAlertes.h"
#include "LecteurRegles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>

namespace {

QString fichierDans(const QString &dossier, const char *nom)
{
    return dossier.isEmpty() ? QString() : QDir(dossier).absoluteFilePath(QString::fromLatin1(nom));
}

} // namespace

ServiceAlertes::ServiceAlertes(const ParametresAlertes &parametres, EvaluateurAlertes::Horloge horloge, QObject *parent)
    : QObject(parent)
    , m_parametres(parametres)
    , m_horloge(horloge)
    , m_evaluateur(horloge)
    , m_notificateur(horloge)
    , m_historique(fichierDans(parametres.etat, fichierHistorique))
{
    connect(&m_evaluateur, &EvaluateurAlertes::changement, this, &ServiceAlertes::changement);
    connect(&m_evaluation, &QTimer::timeout, &m_evaluateur, &EvaluateurAlertes::evaluer);
    // Changes that come together are written together.
    m_sauvegarde.setSingleShot(true);
    connect(&m_sauvegarde, &QTimer::timeout, this, &ServiceAlertes::sauverEtat);
    connect(&m_notificateur, &Notificateur::modifie, &m_sauvegarde, QOverload<>::of(&QTimer::start));
}

bool ServiceAlertes::lireRegles(QString &resume, QString &erreur)
{
    if (m_parametres.regles.isEmpty()) {
        m_evaluateur.appliquer(JeuRegles());
        return true;
    }
    JeuRegles jeu;
    if (!LecteurRegles::lireFichier(m_parametres.regles, jeu, erreur))
        return false;
    m_evaluateur.appliquer(jeu);
    const auto actives = std::count_if(jeu.regles.cbegin(), jeu.regles.cend(), [](const Regle &r) { return r.active; });
    resume = QStringLiteral("%1 : %2 règles actives, %3 fenêtres de maintenance")
                 .arg(QFileInfo(m_parametres.regles).absoluteFilePath())
                 .arg(actives)
                 .arg(jeu.maintenances.size());
    return true;
}

void ServiceAlertes::recharger()
{
    QString resume;
    QString erreur;
    if (lireRegles(resume, erreur))
        Console::erreur(QStringLiteral("Règles relues dans %1.").arg(resume));
    else
        Console::erreur(QStringLiteral("Règles non relues, celles en vigueur sont gardées : %1.").arg(erreur));
}

bool ServiceAlertes::demarrer(const QString &urlParDefaut, QString &erreur)
{
    const QString url = m_parametres.urlExterne.isEmpty() ? urlParDefaut : m_parametres.urlExterne;
    for (const QString &am : qAsConst(m_parametres.alertmanagers))
        m_notificateur.ajouter(new DestinataireHttp(DestinataireHttp::Alertmanager, QUrl(am), url));
    for (const QString &webhook : qAsConst(m_parametres.webhooks))
        m_notificateur.ajouter(new DestinataireHttp(DestinataireHttp::Webhook, QUrl(webhook), url));
    for (const QString &adresse : qAsConst(m_parametres.courriels))
        m_notificateur.ajouter(new DestinataireCourriel(adresse, m_parametres.sendmail, url));
    if (!m_parametres.etat.isEmpty() && !chargerEtat(erreur))
        return false;
    m_notificateur.demarrer();
    m_evaluation.start(periodeEvaluation);
    return true;
}

void ServiceAlertes::arreter()
{
    m_evaluation.stop();
    m_notificateur.arreter();
    m_sauvegarde.stop();
    sauverEtat();
}

bool ServiceAlertes::chargerEtat(QString &erreur)
{
    if (!QDir().mkpath(m_parametres.etat)) {
        erreur = QStringLiteral("%1 : dossier impossible à créer").arg(m_parametres.etat);
        return false;
    }
    if (!m_historique.charger(m_horloge(), erreur))
        return false;
    const QString chemin = fichierDans(m_parametres.etat, fichierEtat);
    QFile fichier(chemin);
    if (fichier.open(QIODevice::ReadOnly)) {
        QJsonParseError analyse;
        const QJsonDocument document = QJsonDocument::fromJson(fichier.readAll(), &analyse);
        fichier.close();
        if (!document.isObject()) {
            // Kept for a look, and the alerts start afresh rather than not at all.
            const QString aCote = chemin + QStringLiteral(".illisible");
            QFile::remove(aCote);
            QFile::rename(chemin, aCote);
            Console::erreur(QStringLiteral("État des alertes illisible (%1), mis de côté dans %2 : les alertes repartent "
                                           "de zéro.")
                                .arg(analyse.errorString(), aCote));
        } else {
            const QJsonObject etat = document.object();
            QVector<Alerte> actives;
            for (const QJsonValue &valeur : etat.value(QStringLiteral("actives")).toArray())
                actives.append(Alerte::lire(valeur.toObject()));
            m_evaluateur.restaurer(actives);
            m_historique.restaurer(etat.value(QStringLiteral("historique")).toArray());
            m_notificateur.restaurer(etat);
            m_notificateur.reconcilier(m_evaluateur.actives());
            m_historique.reconcilier(m_evaluateur.actives(), m_horloge());
        }
    } else if (fichier.exists()) {
        erreur = QStringLiteral("%1 : %2").arg(chemin, fichier.errorString());
        return false;
    }
    // Written now, so that a directory that cannot be written is known at start.
    return ecrireEtat(erreur);
}

bool ServiceAlertes::ecrireEtat(QString &erreur)
{
    QJsonArray actives;
    for (const Alerte &a : m_evaluateur.actives())
        actives.append(a.json());
    QJsonObject etat = m_notificateur.etat();
    etat.insert(QStringLiteral("version"), 1);
    etat.insert(QStringLiteral("actives"), actives);
    etat.insert(QStringLiteral("historique"), m_historique.enCours());
    QSaveFile fichier(fichierDans(m_parametres.etat, fichierEtat));
    if (fichier.open(QIODevice::WriteOnly) && fichier.write(QJsonDocument(etat).toJson(QJsonDocument::Compact)) >= 0
        && fichier.commit())
        return true;
    erreur = QStringLiteral("%1 : %2").arg(fichier.fileName(), fichier.errorString());
    return false;
}

void ServiceAlertes::sauverEtat()
{
    if (m_parametres.etat.isEmpty())
        return;
    QString erreur;
    const bool ecrit = ecrireEtat(erreur);
    if (!ecrit && !m_sauvegardeEnEchec)
        Console::erreur(QStringLiteral("État des alertes non écrit dans %1 ; nouvel essai au prochain changement.").arg(erreur));
    else if (ecrit && m_sauvegardeEnEchec)
        Console::erreur(QStringLiteral("État des alertes de nouveau écrit dans %1.").arg(m_parametres.etat));
    m_sauvegardeEnEchec = !ecrit;
}

void ServiceAlertes::changement(const Alerte &alerte)
{
    m_historique.noter(alerte, m_horloge());
    m_notificateur.changement(alerte);
    if (!m_parametres.etat.isEmpty())
        m_sauvegarde.start(0);
    emit alertesChangees();
}

void ServiceAlertes::recevoir(const RapportHyperviseur &rapport, qint64 intervalle)
{
    m_evaluateur.recevoir(rapport, intervalle);
}

QByteArray ServiceAlertes::json() const
{
    return ExpositionAlertes::json(m_evaluateur.actives(), m_evaluateur.valeursImpossibles(), m_horloge());
}

QByteArray ServiceAlertes::historique() const
{
    return m_historique.json(m_horloge());
}

QByteArray ServiceAlertes::metriques() const
{
    return ExpositionAlertes::metriques(m_evaluateur.actives(), m_evaluateur.valeursImpossibles())
           + m_notificateur.metriques();
}

QString ServiceAlertes::resume() const
{
    QStringList noms;
    for (const Destinataire *d : m_notificateur.destinataires())
        noms.append(d->nom());
    const QString destinataires =
        noms.isEmpty() ? QStringLiteral("Alertes notifiées à personne (ni --alertmanager, ni --webhook, ni --courriel)")
                       : QStringLiteral("Alertes notifiées à : %1").arg(noms.join(QStringLiteral(", ")));
    return m_parametres.etat.isEmpty()
               ? destinataires + QStringLiteral(" ; état non gardé (pas de --etat).")
               : destinataires + QStringLiteral(" ; état gardé dans %1.").arg(QDir(m_parametres.etat).absolutePath());
}
