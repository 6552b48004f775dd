// SPDX-License-Identifier: MIT
#ifndef JOURNALRAPPORTS_H
#define JOURNALRAPPORTS_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

// Keeps every report the store receives on disk until a backup holds it, so
// that a crash loses at most the last half second.
//
// The journal is a series of segments in the store's directory. The segment
// being written is "collecteur-K.journal". When a backup B starts, every
// segment is renamed "B.journal-K" (assigned to B) and a new one is begun:
// the store then holds exactly the reports of the segments assigned to B,
// which B's copy takes whole. B's segments are removed only once B has its
// name, which the store gives it after the file is complete and synced.
// So at any crash, a segment assigned to a B that exists is in B and is
// dropped; every other segment is in no backup and is read back; and a
// temporary file of B's, whose rows are all in B's segments, can go.
// Each report thus ends in exactly one backup.
//
// Its records are SegmentJournal's; a torn or damaged record ends the
// reading of its segment.
class JournalRapports : public QObject
{
    Q_OBJECT

public:
    static constexpr int delaiSynchronisationMs = 500;

    struct Recuperation
    {
        bool trouve = false;
        QStringList rapports;
        qint64 octetsIgnores = 0;
    };

    explicit JournalRapports(const QString &dossier, QObject *parent = nullptr);
    ~JournalRapports() override;

    // What a run that did not stop cleanly left, in the order it was
    // received; segments already in a complete backup are removed here.
    Recuperation recuperer();
    // Begins a new segment. False, with a console line, when it cannot.
    bool demarrer();
    bool actif() const { return m_descripteur >= 0; }

    void ajouter(const QString &rapport);
    // The report's Latin-1 bytes, when the caller already has them.
    void ajouter(const QByteArray &octets);
    // Before backup `sauvegarde` copies the store: everything written so
    // far goes to disk and is assigned to it.
    void assigner(const QString &sauvegarde);
    // Once `sauvegarde` is complete under its name. A journal that a
    // failure stopped begins again, as there is room once more.
    void sauvegardeTerminee(const QString &sauvegarde);

    // Reports given since the last complete backup that it does not hold:
    // those given while it was stopped, and those a failed write or sync
    // may have left out.
    qint64 horsJournal() const { return m_horsJournal; }

    // Whether segments assigned to `sauvegarde` exist in `dossier`.
    static bool segmentsAssignes(const QString &dossier, const QString &sauvegarde);

private slots:
    void synchroniser();

private:
    bool ecrire();
    void abandonner(const QString &action, int erreur);
    QString chemin(const QString &nom) const;
    int prochainNumero() const;

    QString m_dossier;
    QString m_segment;
    int m_numero = 0;
    int m_descripteur = -1;
    QByteArray m_tampon;
    bool m_aSynchroniser = false;
    bool m_abandonne = false;
    qint64 m_enregistrements = 0;
    // Records in m_tampon, and records written since the last sync.
    qint64 m_enAttente = 0;
    qint64 m_nonSynchronises = 0;
    qint64 m_horsJournal = 0;
    QTimer *m_minuteur;
};

#endif
