// SPDX-License-Identifier: MIT
#ifndef FICHIERARCHIVE_H
#define FICHIERARCHIVE_H

#include <QString>
#include <QStringList>
#include <QVector>

// The long-term archive, as collecteur-archive writes it and the dashboard
// reads it: one RRDtool file per hypervisor and per VM, consolidated from
// the backup files.
//
//   <archive>/sauvegardes-archivees          backup files already rolled in
//   <archive>/hyperviseurs/<H>/hyperviseur.rrd   the host's own series
//   <archive>/hyperviseurs/<H>/vm-<V>.rrd        each of its VMs
//
// <H> and <V> are the names of the reports, encoded by nomFichier(). A VM is
// known by its host and its name: libvirt keeps a domain's name unique on a
// host as it does its uuid, but the name is what operators pick a VM by, it
// survives a domain redefined from its XML, and a report always holds one,
// while the backup's uuid column may be NULL. A VM migrated to another host
// starts a series there.
//
// Every file holds AVERAGE and MAX over the same tiers, whatever its
// sources. The base step is 10 s, the agents' usual interval, so that MAX
// is the largest value reported, not the largest of averaged minutes; a
// value stands for the seconds since the series' previous one, up to
// battement() seconds, past which the gap is unknown. A consolidated row is
// unknown when less than half of its steps are known.
//
//   tier   row     rows   span        rows x 2 functions
//   1      5 min   2304   8 days      (the raw files' own default span)
//   2      1 h     8784   366 days
//   3      1 day   1827   5 years
//
// Size, as rrdtool lays a file out on x86-64 (taille()): 1,245,024 bytes for
// a hypervisor (6 sources), 830,320 bytes for a VM (4 sources), written in
// full when the series first appears and never growing. A fleet of 1,000
// hypervisors and 20,000 VMs: 17.85 GB for all of its years, less than one
// day of its raw backup files (about 19.3 GB at one report every 10 s).
// The VMs' state is not kept: a libvirt state code has no average.
namespace FichierArchive {

struct Palier
{
    int secondes; // one row
    int lignes;
};

// Seconds.
int pas();
int battement();
const QVector<Palier> &paliers();
// "AVERAGE", "MAX".
const QStringList &fonctions();
// Data sources, named after the report's keys.
const QStringList &sourcesHyperviseur();
const QStringList &sourcesVM();
// rrd_create's arguments: "DS:cpu:GAUGE:180:U:U"..., "RRA:AVERAGE:0.5:30:2304"...
QStringList definitions(const QStringList &sources);
// The size in bytes of a file with that many sources.
qint64 taille(int nombreSources);

// A name from a report, which anyone may have sent, as one path component:
// UTF-8 bytes outside [A-Za-z0-9._-] and a leading '.' written %XX (so never
// '/', '.', '..' nor a hidden file). Past longueurMaximum bytes, the start of
// that encoding then '~' and the SHA-256 of the name in hexadecimal.
constexpr int longueurMaximum = 180;
QString nomFichier(const QString &nom);
// The name back, or a null string for a hashed or invalid component.
QString nomDepuisFichier(const QString &composant);

// Where the archive is when no option says: beside the backups it is made of.
QString dossierParDefaut(const QString &sauvegardes);
QString nomEtat();
QString dossierHyperviseurs(const QString &archive);
QString dossierHyperviseur(const QString &archive, const QString &hyperviseur);
QString cheminHyperviseur(const QString &archive, const QString &hyperviseur);
QString cheminVM(const QString &archive, const QString &hyperviseur, const QString &vm);
// A hashed name's full text, in UTF-8, beside its file: this suffix
// replaces ".rrd" (a hypervisor's own name goes in "hyperviseur.nom").
QString suffixeNom();
QString extension();
QString prefixeVM();
// A VM's name from its file name in the host's folder; null if it is not one.
QString nomVM(const QString &nomFichierVM);

} // namespace FichierArchive

#endif
