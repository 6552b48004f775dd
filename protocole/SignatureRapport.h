// SPDX-License-Identifier: MIT
#ifndef SIGNATURERAPPORT_H
#define SIGNATURERAPPORT_H

#include "CodeMac.h"

#include <QByteArray>

// A report datagram's signature, after the report text: a zero byte (where
// a collector without keys stops reading the text, so that it reads a
// signed datagram exactly as an unsigned one), the marker "CS1", the
// sender's time in µs since the epoch (8 bytes, big-endian), and an
// HMAC-SHA-256 over everything before it: sequence number, report text,
// zero byte, marker and time.
namespace SignatureRapport {

constexpr int tailleMarqueur = 3;
constexpr int tailleHorodatage = 8;
constexpr int tailleCode = CodeMac::taille;
constexpr int taille = 1 + tailleMarqueur + tailleHorodatage + tailleCode;
// Keys are at least this many random bytes.
constexpr int tailleCleMinimum = 32;

// The system clock in µs since the epoch: fine enough that an agent may
// send a million reports a second, each with a time of its own.
qint64 maintenant();

// Appends the signature to a datagram (header and report text).
void signer(QByteArray &datagramme, const CodeMac &cle, qint64 horodatage);
void signer(QByteArray &datagramme, const QByteArray &cle, qint64 horodatage);

struct Lue
{
    bool presente = false;
    qint64 horodatage = 0;
    QByteArray signe; // the bytes the code covers
    QByteArray code;
};
// The signature at the end of `datagramme`, if it carries one; its byte
// arrays refer to the datagram's, which must outlive it.
Lue lire(const QByteArray &datagramme);
// Compares the code in constant time.
bool verifier(const Lue &signature, const CodeMac &cle);
bool verifier(const Lue &signature, const QByteArray &cle);

} // namespace SignatureRapport

#endif
