// SPDX-License-Identifier: MIT
#include "JournalRapports.h"

#include "Console.h"
#include "FichierSauvegarde.h"
#include "SegmentJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Past this much waiting in memory, it is written at once.
constexpr int tamponMax = 1024 * 1024;

QString texteErreur(int erreur)
{
    return QString::fromLocal8Bit(std::strerror(erreur));
}

} // namespace

JournalRapports::JournalRapports(const QString &dossier, QObject *parent)
    : QObject(parent)
    , m_dossier(dossier)
    , m_minuteur(new QTimer(this))
{
    m_minuteur->setInterval(delaiSynchronisationMs);
    connect(m_minuteur, &QTimer::timeout, this, &JournalRapports::synchroniser);
}

JournalRapports::~JournalRapports()
{
    if (!actif())
        return;
    // After a clean stop the last backup took everything: a segment begun
    // after it holds nothing and would only look like a crash's leftover.
    // Its header is not even written, which a full disk would refuse.
    if (m_enregistrements == 0) {
        ::close(m_descripteur);
        m_descripteur = -1;
        QFile::remove(chemin(m_segment));
        return;
    }
    synchroniser();
    if (actif())
        ::close(m_descripteur);
    m_descripteur = -1;
}

QString JournalRapports::chemin(const QString &nom) const
{
    return QDir(m_dossier).filePath(nom);
}

bool JournalRapports::segmentsAssignes(const QString &dossier, const QString &sauvegarde)
{
    return !QDir(dossier).entryList({FichierSauvegarde::filtreSegmentsAssignes(sauvegarde)}, QDir::Files | QDir::System).isEmpty();
}

int JournalRapports::prochainNumero() const
{
    int numero = 0;
    for (const SegmentJournal::Segment &segment : SegmentJournal::segments(m_dossier))
        numero = qMax(numero, segment.numero);
    return qMax(numero, m_numero) + 1;
}

JournalRapports::Recuperation JournalRapports::recuperer()
{
    Recuperation recuperation;
    for (const SegmentJournal::Segment &segment : SegmentJournal::segments(m_dossier)) {
        recuperation.trouve = true;
        if (!segment.sauvegarde.isEmpty()) {
            if (QFileInfo::exists(chemin(segment.sauvegarde))) {
                QFile::remove(chemin(segment.nom));
                continue;
            }
            // Its rows are all in this segment and its siblings.
            QFile::remove(chemin(segment.sauvegarde + FichierSauvegarde::suffixeEnCours()));
        }

        QFile fichier(chemin(segment.nom));
        if (!fichier.open(QIODevice::ReadOnly)) {
            Console::ecrire(QStringLiteral("Journal %1 illisible : %2").arg(segment.nom, fichier.errorString()));
            continue;
        }
        const QByteArray octets = fichier.readAll();
        qsizetype position = 0;
        if (SegmentJournal::estSegment(octets.constData(), octets.size())) {
            position = SegmentJournal::entete().size();
            SegmentJournal::Enregistrement enregistrement;
            while (SegmentJournal::suivant(octets.constData(), octets.size(), position, enregistrement))
                recuperation.rapports.append(QString::fromLatin1(enregistrement.octets, int(enregistrement.taille)));
        }
        recuperation.octetsIgnores += octets.size() - position;
    }
    return recuperation;
}

bool JournalRapports::demarrer()
{
    m_numero = prochainNumero();
    m_segment = FichierSauvegarde::nomSegmentJournal(m_numero);
    m_descripteur = ::open(QFile::encodeName(chemin(m_segment)).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0640);
    if (m_descripteur < 0) {
        abandonner(QStringLiteral("créer"), errno);
        return false;
    }
    m_enregistrements = 0;
    m_tampon = SegmentJournal::entete();
    m_aSynchroniser = true;
    m_abandonne = false;
    m_minuteur->start();
    return true;
}

void JournalRapports::ajouter(const QString &rapport)
{
    if (actif())
        ajouter(rapport.toLatin1());
    else
        ++m_horsJournal;
}

void JournalRapports::ajouter(const QByteArray &octets)
{
    if (!actif()) {
        ++m_horsJournal;
        return;
    }
    SegmentJournal::ajouter(m_tampon, octets.constData(), octets.size());
    ++m_enregistrements;
    ++m_enAttente;
    if (m_tampon.size() >= tamponMax)
        ecrire();
}

bool JournalRapports::ecrire()
{
    qint64 ecrits = 0;
    while (ecrits < m_tampon.size()) {
        const ssize_t n = ::write(m_descripteur, m_tampon.constData() + ecrits, size_t(m_tampon.size() - ecrits));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int erreur = n < 0 ? errno : ENOSPC;
            // A record cut short ends the reading of the segment: only
            // those written whole are in it.
            const qint64 complets = SegmentJournal::enregistrementsComplets(m_tampon, ecrits);
            m_nonSynchronises += complets;
            m_enAttente -= complets;
            abandonner(QStringLiteral("écrire"), erreur);
            return false;
        }
        ecrits += n;
    }
    m_tampon.resize(0);
    m_nonSynchronises += m_enAttente;
    m_enAttente = 0;
    m_aSynchroniser = true;
    return true;
}

void JournalRapports::synchroniser()
{
    if (!actif() || (!m_tampon.isEmpty() && !ecrire()))
        return;
    if (m_aSynchroniser) {
        if (::fdatasync(m_descripteur) != 0) {
            const int erreur = errno;
            // What the system failed to write may never reach the disk.
            m_horsJournal += m_nonSynchronises;
            m_nonSynchronises = 0;
            abandonner(QStringLiteral("synchroniser"), erreur);
            return;
        }
        m_aSynchroniser = false;
        m_nonSynchronises = 0;
    }
}

void JournalRapports::abandonner(const QString &action, int erreur)
{
    Console::ecrire(QStringLiteral("Journal %1 : impossible de %2 (%3). Le collecteur continue sans journal : "
                                   "un arrêt brutal perdrait les rapports reçus depuis la dernière sauvegarde.")
                        .arg(m_segment, action, texteErreur(erreur)));
    if (m_descripteur >= 0)
        ::close(m_descripteur);
    m_descripteur = -1;
    m_tampon.clear();
    m_horsJournal += m_enAttente;
    m_enAttente = 0;
    m_abandonne = true;
    m_minuteur->stop();
}

void JournalRapports::assigner(const QString &sauvegarde)
{
    const bool etaitActif = actif();
    if (etaitActif) {
        synchroniser();
        if (actif()) {
            ::close(m_descripteur);
            m_descripteur = -1;
            m_minuteur->stop();
        }
    }
    // Segments of earlier backups that failed hold rows this one takes too.
    for (const SegmentJournal::Segment &segment : SegmentJournal::segments(m_dossier)) {
        if (!segment.sauvegarde.isEmpty() && QFileInfo::exists(chemin(segment.sauvegarde)))
            continue;
        const QString nom = FichierSauvegarde::nomSegmentAssigne(sauvegarde, segment.numero);
        if (::rename(QFile::encodeName(chemin(segment.nom)).constData(), QFile::encodeName(chemin(nom)).constData()) != 0)
            Console::ecrire(QStringLiteral("Journal %1 : impossible de le renommer en %2 (%3).")
                                .arg(segment.nom, nom, texteErreur(errno)));
    }
    // A journal that failed as it was flushed stays stopped until a backup
    // succeeds, as its line said.
    if (etaitActif && !m_abandonne)
        demarrer();
}

void JournalRapports::sauvegardeTerminee(const QString &sauvegarde)
{
    const QStringList noms =
        QDir(m_dossier).entryList({FichierSauvegarde::filtreSegmentsAssignes(sauvegarde)}, QDir::Files | QDir::System);
    for (const QString &nom : noms)
        QFile::remove(chemin(nom));
    m_horsJournal = 0;
    if (m_abandonne && demarrer())
        Console::ecrire(QStringLiteral("Journal %1 repris : un arrêt brutal ne perd de nouveau que la dernière "
                                       "demi-seconde de rapports.")
                            .arg(m_segment));
}
