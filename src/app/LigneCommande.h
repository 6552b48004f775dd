// SPDX-License-Identifier: MIT
#ifndef LIGNECOMMANDE_H
#define LIGNECOMMANDE_H

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct ParametresCollecteur;

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

    // "--cles=FICHIER": the report keys file, empty without the option.
    static QString cles(const QStringList &arguments);
    // "--derive-max=S": how far, in seconds, a signed report's time may be
    // from ours, `parDefaut` without the option, -1 when its value is not a
    // whole number from 1 to 86400.
    static qint64 deriveMax(const QStringList &arguments, qint64 parDefaut);
    // "--afficheurs=RÉSEAU[,RÉSEAU…]": the networks display clients may
    // connect from (CIDR, IPv4 or IPv6), empty without the option (every
    // address); false when one cannot be read.
    static bool afficheurs(const QStringList &arguments, QList<QPair<QHostAddress, int>> &reseaux);

    // Every option above read into `parametres`, over its defaults; false,
    // with the console line that says which value is wrong, on the first
    // one that cannot be used.
    static bool lire(const QStringList &arguments, ParametresCollecteur &parametres, QString &erreur);

    // "-h" or "--help" among the arguments.
    static bool aideDemandee(const QStringList &arguments);
    // What "--help" prints, in the other programs' layout.
    static QString aide();
};

#endif
