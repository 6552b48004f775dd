// SPDX-License-Identifier: MIT
// A datagram through the check of signed reports, as any sender on the
// network may make it. The first byte chooses: odd, the rest is signed with
// a known host's key (so that the name, time and replay checks are reached
// with any report text); even, the rest is taken as it comes.
#include "DatagrammeRapport.h"
#include "SignatureRapport.h"
#include "VerificateurSignatures.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void exiger(bool condition, const char *quoi)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_signe : %s\n", quoi);
    std::abort();
}

const qint64 maintenant = 1796900000000000; // µs

QByteArray cle(char octet)
{
    return QByteArray(SignatureRapport::tailleCleMinimum, octet);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *donnees, size_t taille)
{
    if (taille < 1 || taille > 65535)
        return -1;
    QByteArray octets(reinterpret_cast<const char *>(donnees) + 1, int(taille - 1));
    if (donnees[0] & 1) {
        // Its time taken from the input too, around ours.
        const qint64 decalage = (qint64(donnees[0] >> 1) - 64) * 4000000;
        SignatureRapport::signer(octets, cle('a'), maintenant + decalage);
    }
    VerificateurSignatures verificateur({{QStringLiteral("hv-a"), {cle('a'), cle('A')}}, {QStringLiteral("hv-b"), {cle('b')}}},
                                        120000);
    const QString texte = DatagrammeRapport::texte(octets);
    VerificateurSignatures::Raison raison = VerificateurSignatures::NombreRaisons;
    const bool acceptee = verificateur.verifier(octets, texte, maintenant, raison);
    const SignatureRapport::Lue lue = SignatureRapport::lire(octets);
    exiger(lue.presente || (!acceptee && raison == VerificateurSignatures::SansSignature), "signature absente acceptée");
    if (acceptee) {
        exiger(SignatureRapport::verifier(lue, cle('a')) || SignatureRapport::verifier(lue, cle('A'))
                   || SignatureRapport::verifier(lue, cle('b')),
               "acceptée sans clé connue");
        exiger(qAbs(lue.horodatage - maintenant) <= 120000000, "acceptée hors de l'écart permis");
        // The same bytes again are a replay, whatever they hold.
        exiger(!verificateur.verifier(octets, texte, maintenant, raison) && raison == VerificateurSignatures::Rejouee,
               "acceptée deux fois");
    }
    const QStringList lignes = verificateur.refuser(QStringLiteral("192.0.2.7"), raison == VerificateurSignatures::NombreRaisons
                                                                                   ? VerificateurSignatures::SansSignature
                                                                                   : raison,
                                                    maintenant / 1000);
    exiger(lignes.size() == 1, "une ligne au premier refus");
    return 0;
}
