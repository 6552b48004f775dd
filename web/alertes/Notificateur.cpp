// SPDX-License-Identifier: MIT
#include "Notificateur.h"

#include "ExpositionMetriques.h"

#include <QJsonArray>

#include <algorithm>

Notificateur::Notificateur(Horloge horloge, QObject *parent)
    : QObject(parent)
    , m_horloge(std::move(horloge))
{
    connect(&m_rappel, &QTimer::timeout, this, &Notificateur::rappeler);
}

void Notificateur::ajouter(Destinataire *destinataire)
{
    destinataire->setParent(this);
    m_destinataires.append(destinataire);
    connect(destinataire, &Destinataire::fileChangee, this, &Notificateur::modifie);
}

QVector<NotificationAlerte> Notificateur::enCours() const
{
    QVector<NotificationAlerte> liste;
    liste.reserve(m_enCours.size());
    for (const NotificationAlerte &n : m_enCours)
        liste.append(n);
    std::sort(liste.begin(), liste.end(),
              [](const NotificationAlerte &a, const NotificationAlerte &b) { return a.cle() < b.cle(); });
    return liste;
}

void Notificateur::changement(const Alerte &alerte)
{
    const QString cle = NotificationAlerte::cle(alerte);
    // Unstable, it is told once, as a warning at least, until it settles.
    const bool aDire = alerte.declenchee() || alerte.instable;
    const NotificationAlerte nouvelle = NotificationAlerte::depuis(alerte);
    QVector<NotificationAlerte> lot;
    const auto dite = m_enCours.find(cle);
    if (dite != m_enCours.end()) {
        // Unstable, it stays as it was told until it settles.
        if (aDire && (nouvelle.severity == dite->severity || alerte.instable))
            return;
        // Its severity is one of its labels: another severity is another alert.
        NotificationAlerte fin = *dite;
        fin.fin = qMax(m_horloge(), fin.debut + 1);
        lot.append(fin);
        m_enCours.erase(dite);
    }
    if (aDire && !alerte.silence) {
        m_enCours.insert(cle, nouvelle);
        lot.append(nouvelle);
    }
    if (lot.isEmpty())
        return;
    envoyer(lot);
    emit modifie();
}

void Notificateur::envoyer(const QVector<NotificationAlerte> &lot)
{
    for (Destinataire *d : qAsConst(m_destinataires))
        d->notifier(lot);
}

void Notificateur::rappeler()
{
    const QVector<NotificationAlerte> liste = enCours();
    for (Destinataire *d : qAsConst(m_destinataires))
        d->rappeler(liste);
}

void Notificateur::reconcilier(const QVector<Alerte> &actives)
{
    QSet<QString> tenues;
    for (const Alerte &a : actives)
        tenues.insert(NotificationAlerte::cle(a));
    QVector<NotificationAlerte> lot;
    for (auto it = m_enCours.begin(); it != m_enCours.end();) {
        if (tenues.contains(it.key())) {
            ++it;
            continue;
        }
        NotificationAlerte fin = *it;
        fin.fin = qMax(m_horloge(), fin.debut + 1);
        lot.append(fin);
        it = m_enCours.erase(it);
    }
    if (lot.isEmpty())
        return;
    envoyer(lot);
    emit modifie();
}

QJsonObject Notificateur::etat() const
{
    QJsonArray dites;
    for (const NotificationAlerte &n : enCours())
        dites.append(n.json());
    QJsonObject files;
    for (const Destinataire *d : m_destinataires) {
        QJsonArray file;
        for (const QByteArray &corps : d->file())
            file.append(QString::fromUtf8(corps));
        files.insert(d->nom(), file);
    }
    return QJsonObject{{QStringLiteral("notifiees"), dites}, {QStringLiteral("files"), files}};
}

void Notificateur::restaurer(const QJsonObject &etat)
{
    for (const QJsonValue &valeur : etat.value(QStringLiteral("notifiees")).toArray()) {
        const NotificationAlerte n = NotificationAlerte::lire(valeur.toObject());
        if (!n.alertname.isEmpty())
            m_enCours.insert(n.cle(), n);
    }
    // A receiver no longer given on the command line loses what waited for it.
    const QJsonObject files = etat.value(QStringLiteral("files")).toObject();
    for (Destinataire *d : qAsConst(m_destinataires)) {
        QByteArrayList file;
        for (const QJsonValue &corps : files.value(d->nom()).toArray())
            file.append(corps.toString().toUtf8());
        if (!file.isEmpty())
            d->restaurer(file);
    }
}

QByteArray Notificateur::metriques() const
{
    QByteArray remises = "# HELP collecteur_notifications_envoyees_total Notifications remises, par destinataire.\n"
                         "# TYPE collecteur_notifications_envoyees_total counter\n";
    QByteArray echecs = "# HELP collecteur_notifications_echouees_total Envois de notifications échoués (essais "
                        "manqués et refus), par destinataire.\n"
                        "# TYPE collecteur_notifications_echouees_total counter\n";
    QByteArray attente = "# HELP collecteur_notifications_en_attente Notifications qui attendent d'être remises, par "
                         "destinataire.\n"
                         "# TYPE collecteur_notifications_en_attente gauge\n";
    for (const Destinataire *d : m_destinataires) {
        const QByteArray etiquette = "{destinataire=" + ExpositionMetriques::etiquette(d->nom()) + "} ";
        remises += "collecteur_notifications_envoyees_total" + etiquette + QByteArray::number(d->remises()) + '\n';
        echecs += "collecteur_notifications_echouees_total" + etiquette + QByteArray::number(d->echecs()) + '\n';
        attente += "collecteur_notifications_en_attente" + etiquette + QByteArray::number(d->enAttente()) + '\n';
    }
    return remises + echecs + attente;
}
