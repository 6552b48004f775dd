// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDE_H
#define LIGNECOMMANDE_H

#include <QString>
#include <QStringList>

class LigneCommande
{
public:
    static constexpr quint16 portParDefaut = 55000;

    // The UDP port chosen by "--port=N": the first argument containing the
    // option anywhere, its first run of digits cut to five; 0 when there is
    // none or it exceeds 65535, which lets the system pick a port.
    static quint16 portUdp(const QStringList &arguments);

    // "--clients-max=N": how many display clients may be connected at once,
    // `parDefaut` without the option, -1 when its value is not a whole
    // number from 1 to 65535.
    static int clientsMax(const QStringList &arguments, int parDefaut);

    // "--journal=aucun" turns the journal off: 0; without the option: 1;
    // any other value: -1.
    static int journal(const QStringList &arguments);

    // "--memoire-max=TAILLE": the most memory the store's rows may take, in
    // bytes, `parDefaut` without the option, -1 when its value is not a
    // size of at least memoireMaxMinimum.
    static qint64 memoireMax(const QStringList &arguments, qint64 parDefaut);
    static constexpr qint64 memoireMaxMinimum = 1024 * 1024;
    // A quarter of the machine's memory.
    static qint64 memoireMaxParDefaut();

    // "-h" or "--help" among the arguments.
    static bool aideDemandee(const QStringList &arguments);
    // What "--help" prints, in the other programs' layout.
    static QString aide();
};

#endif
