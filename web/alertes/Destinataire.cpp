// SPDX-License-Identifier: MIT
#include "Destinataire.h"

#include "Console.h"

Destinataire::Destinataire(const QString &nom, QObject *parent)
    : QObject(parent)
    , m_nom(nom)
{
    m_attente.setSingleShot(true);
    connect(&m_attente, &QTimer::timeout, this, &Destinataire::essayer);
}

void Destinataire::notifier(const QVector<NotificationAlerte> &alertes)
{
    if (!alertes.isEmpty())
        deposer(message(alertes));
}

void Destinataire::rappeler(const QVector<NotificationAlerte> &)
{
}

void Destinataire::restaurer(const QByteArrayList &file)
{
    m_file = file + m_file;
    if (!m_file.isEmpty() && !m_occupe && !m_attente.isActive())
        QTimer::singleShot(0, this, &Destinataire::essayer);
}

void Destinataire::deposer(const QByteArray &corps)
{
    if (m_file.size() >= fileMaximale) {
        // The one being sent stays: its answer is awaited.
        m_file.removeAt(m_occupe ? 1 : 0);
        if (!m_debordement)
            Console::erreur(QStringLiteral("Notifications vers %1 : %2 en attente, les plus anciennes sont abandonnées.")
                                .arg(m_nom)
                                .arg(fileMaximale));
        m_debordement = true;
    }
    m_file.append(corps);
    emit fileChangee();
    if (!m_occupe && !m_attente.isActive())
        essayer();
}

void Destinataire::essayer()
{
    if (m_occupe || m_file.isEmpty())
        return;
    m_occupe = true;
    transmettre(m_file.first());
}

void Destinataire::terminer(Issue issue, const QString &erreur)
{
    m_occupe = false;
    if (issue == Echoue) {
        ++m_echecs;
        ++m_essaisManques;
        if (!m_enPanne) {
            m_enPanne = true;
            Console::erreur(QStringLiteral("Notifications vers %1 impossibles : %2 ; nouvel essai dans %3 s, puis de plus "
                                           "en plus espacé (au plus %4 min).")
                                .arg(m_nom, erreur)
                                .arg(m_delai / 1000)
                                .arg(attenteMaximale / 60000));
        }
        m_attente.start(m_delai);
        m_delai = qMin(m_delai * 2, attenteMaximale);
        return;
    }
    m_file.removeFirst();
    if (issue == Refuse) {
        ++m_echecs;
        Console::erreur(QStringLiteral("Notification refusée par %1, abandonnée : %2.").arg(m_nom, erreur));
    } else {
        ++m_remises;
    }
    if (m_enPanne) {
        m_enPanne = false;
        Console::erreur(QStringLiteral("Notifications vers %1 rétablies après %2 essai(s) manqué(s).")
                            .arg(m_nom)
                            .arg(m_essaisManques));
    }
    m_essaisManques = 0;
    m_delai = attenteInitiale;
    if (m_file.isEmpty())
        m_debordement = false;
    emit fileChangee();
    essayer();
}
