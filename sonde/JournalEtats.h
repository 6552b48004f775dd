// SPDX-License-Identifier: MIT
#ifndef JOURNALETATS_H
#define JOURNALETATS_H

#include <QObject>
#include <QSet>
#include <QString>

// The agent's console: one plain French line on standard error when a part
// changes state (libvirt, a measure, a collector), never one per interval, so
// that a fault lasting days leaves two lines in the journal, not thousands.
class JournalEtats : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void ecrire(const QString &ligne);

    // Writes `ligneDefaut` when `partie` goes from working (its state at
    // first) to failing, `ligneRetour` when it works again; nothing otherwise.
    // retour() tells whether it wrote.
    void panne(const QString &partie, const QString &ligneDefaut);
    bool retour(const QString &partie, const QString &ligneRetour);

signals:
    // Each line, once it is on standard error.
    void ecrite(const QString &ligne);

private:
    QSet<QString> m_pannes;
};

#endif
