// SPDX-License-Identifier: MIT
#include "SignatureRapport.h"

#include <chrono>

namespace {

const char marqueur[SignatureRapport::tailleMarqueur + 1] = "CS1";

} // namespace

qint64 SignatureRapport::maintenant()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SignatureRapport::signer(QByteArray &datagramme, const CodeMac &cle, qint64 horodatage)
{
    datagramme.append('\0').append(marqueur, tailleMarqueur);
    for (int i = tailleHorodatage - 1; i >= 0; --i)
        datagramme.append(char(quint64(horodatage) >> (8 * i)));
    datagramme.append(cle.calculer(datagramme.constData(), int(datagramme.size())));
}

void SignatureRapport::signer(QByteArray &datagramme, const QByteArray &cle, qint64 horodatage)
{
    signer(datagramme, CodeMac(cle), horodatage);
}

SignatureRapport::Lue SignatureRapport::lire(const QByteArray &datagramme)
{
    Lue lue;
    const int debut = int(datagramme.size()) - taille;
    // At least the sequence number's four bytes before it.
    if (debut < 4 || datagramme.at(debut) != '\0' || qstrncmp(datagramme.constData() + debut + 1, marqueur, tailleMarqueur) != 0)
        return lue;
    lue.presente = true;
    quint64 horodatage = 0;
    for (int i = 0; i < tailleHorodatage; ++i)
        horodatage = (horodatage << 8) | quint8(datagramme.at(debut + 1 + tailleMarqueur + i));
    lue.horodatage = qint64(horodatage);
    lue.signe = QByteArray::fromRawData(datagramme.constData(), int(datagramme.size()) - tailleCode);
    lue.code = QByteArray::fromRawData(datagramme.constData() + datagramme.size() - tailleCode, tailleCode);
    return lue;
}

bool SignatureRapport::verifier(const Lue &signature, const CodeMac &cle)
{
    return signature.presente && cle.verifier(signature.signe.constData(), int(signature.signe.size()), signature.code.constData());
}

bool SignatureRapport::verifier(const Lue &signature, const QByteArray &cle)
{
    return verifier(signature, CodeMac(cle));
}
