// SPDX-License-Identifier: MIT
#ifndef SONDE_H
#define SONDE_H

#include "LecteurLibvirt.h"
#include "LectureHote.h"
#include "LigneCommandeSonde.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <memory>

class JournalEtats;

// Samples the host and its domains every interval and hands out the report
// texts of the interval just ended. The first sample is taken at start, so
// that the first report, one interval later, already has its rates.
class Sonde : public QObject
{
    Q_OBJECT

public:
    Sonde(const ParametresSonde &parametres, JournalEtats &journal, QObject *parent = nullptr);
    ~Sonde() override;

    // Takes the first sample and starts the interval timer; with --une-fois,
    // emits one report, then termine().
    void demarrer();

public slots:
    // Stops sampling and closes the libvirt connection, says so in one line,
    // then emits termine().
    void arreter(int signal);

signals:
    void rapportsPrets(const QVector<QByteArray> &rapports);
    void termine();

private slots:
    void mesurer();

private:
    std::optional<QVector<MesuresVm>> lireVms();
    void signalerAbsences(const MesuresHote &mesures);

    ParametresSonde m_parametres;
    JournalEtats &m_journal;
    LectureHote m_hote;
    std::unique_ptr<LecteurLibvirt> m_libvirt;
    bool m_libvirtDejaConnecte = false;
    EchantillonHote m_precedent;
    QHash<QString, EchantillonDomaine> m_domainesPrecedents;
    QTimer m_minuteur;
};

#endif
