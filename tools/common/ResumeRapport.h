// SPDX-License-Identifier: MIT
#ifndef RESUMERAPPORT_H
#define RESUMERAPPORT_H

#include <QString>

// One readable line for a report text: hypervisor name, time (UTC), processor
// and memory load, number of VMs. A missing or mistyped value shows as "?",
// so a faulty agent is visible instead of silently shown as zero.
class ResumeRapport
{
public:
    static QString ligne(const QString &texte);
};

#endif
