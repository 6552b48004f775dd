// SPDX-License-Identifier: MIT
// One datagram, as any sender on the network may make it, through the
// receiver's decoding and into a real in-memory store.
#include "Console.h"
#include "DecodeurDatagrammes.h"
#include "GestionBDD.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void exiger(bool condition, const char *quoi)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_datagramme : %s\n", quoi);
    std::abort();
}

GestionBDD *s_bdd = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The messages are still built, only not written: their code runs.
    qInstallMessageHandler(silence);
    static int argc = 1;
    static char nom[] = "fuzz_datagramme";
    static char *argv[] = {nom, nullptr};
    static QCoreApplication application(argc, argv);
    static GestionBDD bdd;
    s_bdd = &bdd;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *donnees, size_t taille)
{
    if (taille > 65535)
        return -1;
    const QByteArray octets = QByteArray::fromRawData(reinterpret_cast<const char *>(donnees), int(taille));
    const QString expediteur = QStringLiteral("192.0.2.7");

    // The sender has sent number 41 before, so that every outcome of the
    // sequence check is reachable.
    DecodeurDatagrammes decodeur;
    decodeur.decoder(expediteur, QByteArray::fromRawData("\0\0\0\x29", 4));
    const DecodeurDatagrammes::Datagramme datagramme = decodeur.decoder(expediteur, octets);

    quint32 sequence = 0;
    for (size_t i = 0; i < taille && i < 4; ++i)
        sequence = (sequence << 8) | donnees[i];
    exiger(datagramme.sequence == sequence, "numéro de séquence");
    exiger(datagramme.horsSequence == (sequence != 42 && sequence != 0), "contrôle de séquence");
    exiger(!datagramme.horsSequence || datagramme.perdus == int(sequence - 42u), "nombre de paquets perdus");
    const size_t debut = taille < 4 ? taille : 4;
    const void *zero = std::memchr(donnees + debut, 0, taille - debut);
    const size_t longueur = zero ? size_t(static_cast<const uint8_t *>(zero) - (donnees + debut)) : taille - debut;
    exiger(datagramme.texte.toLatin1() == QByteArray(reinterpret_cast<const char *>(donnees + debut), int(longueur)),
           "texte du rapport");

    if (datagramme.horsSequence)
        Console::ecrire(expediteur, ": ", QString::number(datagramme.perdus) + QStringLiteral(" paquet(s) perdu(s)."));
    s_bdd->ajouterDonnees(datagramme.texte);
    Console::ecrire("Réception de ", expediteur + QStringLiteral("  SeqNb:") + QString::number(datagramme.sequence));

    // Every input starts from an empty store, so that a finding replays alone.
    QSqlQuery vidage(QSqlDatabase::database(QStringLiteral("collecteur")));
    exiger(vidage.exec(QStringLiteral("DELETE FROM InfosVMs")), "vidage de InfosVMs");
    exiger(vidage.exec(QStringLiteral("DELETE FROM InfosHyperviseurs")), "vidage de InfosHyperviseurs");
    return 0;
}
