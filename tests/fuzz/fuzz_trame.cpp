// SPDX-License-Identifier: MIT
// A report text through the display frame encoding and back through a
// client's frame reader; the same bytes, taken as a raw stream, through the
// reader alone.
#include "TrameAffichage.h"
#include "LecteurTrames.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void exiger(bool condition, const char *quoi)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_trame : %s\n", quoi);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(silence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *donnees, size_t taille)
{
    if (taille > 65535)
        return -1;
    const QByteArray octets = QByteArray::fromRawData(reinterpret_cast<const char *>(donnees), int(taille));
    // With its length given: Qt 5 would stop a QByteArray at its first zero byte.
    const QString rapport = QString::fromLatin1(octets.constData(), octets.size());
    const QByteArray trame = TrameAffichage::ecrire(rapport);
    exiger(trame.size() == int(taille) + 5, "taille de la trame");

    // The socket may deliver the frame in two pieces anywhere.
    const int coupure = int(qHash(octets) % uint(trame.size() + 1));
    LecteurTrames lecteur;
    QString texte;
    lecteur.ajouter(trame.left(coupure));
    if (coupure < trame.size()) {
        exiger(lecteur.lire(texte) == LecteurTrames::Incomplet, "trame partielle");
        lecteur.ajouter(trame.mid(coupure));
    }
    exiger(lecteur.lire(texte) == LecteurTrames::TrameLue, "trame complète");
    exiger(texte.toLatin1() == octets && texte == rapport, "texte relu");
    exiger(lecteur.lire(texte) == LecteurTrames::Incomplet && lecteur.octetsEnAttente() == 0, "fin de trame");

    LecteurTrames brut;
    brut.ajouter(octets);
    qint64 restant = brut.octetsEnAttente();
    LecteurTrames::Resultat resultat;
    while ((resultat = brut.lire(texte)) == LecteurTrames::TrameLue) {
        exiger(brut.octetsEnAttente() == restant - 5 - texte.size(), "octets consommés");
        restant = brut.octetsEnAttente();
    }
    exiger(resultat == LecteurTrames::Incomplet || !brut.erreur().isEmpty(), "erreur sans raison");
    return 0;
}
