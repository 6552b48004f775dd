// SPDX-License-Identifier: MIT
#include "LecteurJournal.h"

#include "LecteurRapport.h"
#include "SegmentJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace {

// Most records are other hosts': they are told apart by the name's bytes
// before any JSON is read. A record holding an escape may spell the name
// otherwise, so it is read whole.
class FiltreNom
{
public:
    explicit FiltreNom(const QString &nom)
        : m_utf8(nom.toUtf8())
    {
        const QByteArray latin1 = nom.toLatin1();
        // The collector reads a report that is not UTF-8 as Latin-1.
        if (latin1 != m_utf8 && QString::fromLatin1(latin1) == nom)
            m_latin1 = latin1;
    }

    bool peutEtre(const char *octets, qsizetype taille) const
    {
        return contient(octets, taille, m_utf8) || (!m_latin1.isEmpty() && contient(octets, taille, m_latin1))
               || std::memchr(octets, '\\', size_t(taille)) != nullptr;
    }

private:
    static bool contient(const char *octets, qsizetype taille, const QByteArray &motif)
    {
        return memmem(octets, size_t(taille), motif.constData(), size_t(motif.size())) != nullptr;
    }

    QByteArray m_utf8;
    QByteArray m_latin1;
};

void ajouter(const RapportHyperviseur &rapport, const ChoixVMs &vms, const GrilleHistorique &grille, SeriesCumulees &series)
{
    const qint64 fin = grille.fin(rapport.time);
    Cumul &cumul = series.hyperviseur[fin];
    cumul.ajouterLigne(rapport.time);
    int mesure = 0;
    for (const auto &champ : champsHyperviseur)
        cumul.ajouter(mesure++, rapport.*champ.valeur);
    ++series.lignes;
    for (const RapportVM &lue : rapport.vms) {
        if (!vms.garde(lue.nom))
            continue;
        const QByteArray nom = lue.nom.toUtf8();
        const QByteArray uuid = lue.uuid.toUtf8();
        Cumul &cumulVM = series.vm(nom.constData(), int(nom.size()), uuid.constData(), int(uuid.size())).cumuls[fin];
        cumulVM.ajouterLigne(rapport.time);
        // The state first, as ClesRapport::mesuresVM() has it.
        cumulVM.ajouter(0, lue.etat >= 0 ? double(lue.etat) : valeurAbsente);
        mesure = 1;
        for (const auto &champ : champsVM)
            cumulVM.ajouter(mesure++, lue.*champ.valeur);
    }
}

} // namespace

LecteurJournal::Bilan LecteurJournal::lire(const QString &dossier, const QString &nom, const ChoixVMs &vms,
                                           const GrilleHistorique &grille, SeriesCumulees &series)
{
    Bilan bilan;
    const FiltreNom filtre(nom);
    const QDir repertoire(dossier);
    for (const SegmentJournal::Segment &segment : SegmentJournal::segments(dossier)) {
        // Assigned to a backup that exists: that file holds its reports.
        if (!segment.sauvegarde.isEmpty() && QFileInfo::exists(repertoire.filePath(segment.sauvegarde)))
            continue;
        QFile fichier(repertoire.filePath(segment.nom));
        if (!fichier.open(QIODevice::ReadOnly) || fichier.size() == 0)
            continue;
        const qsizetype taille = qsizetype(fichier.size());
        // Appended to meanwhile: the mapping is what was there when opened.
        const auto *octets = reinterpret_cast<const char *>(fichier.map(0, fichier.size()));
        if (!octets || !SegmentJournal::estSegment(octets, taille))
            continue;
        ++bilan.segments;
        qsizetype position = SegmentJournal::entete().size();
        SegmentJournal::Enregistrement enregistrement;
        // Only a record that may be this host's is checked: others are
        // skipped by their length alone.
        while (SegmentJournal::suivant(octets, taille, position, enregistrement, false)) {
            if (!filtre.peutEtre(enregistrement.octets, enregistrement.taille))
                continue;
            if (!enregistrement.intact())
                break;
            RapportHyperviseur rapport;
            if (!LecteurRapport::decoder(QString::fromLatin1(enregistrement.octets, int(enregistrement.taille)), rapport)
                || rapport.nom != nom || !grille.contient(rapport.time))
                continue;
            ajouter(rapport, vms, grille, series);
            ++bilan.rapports;
        }
    }
    return bilan;
}
