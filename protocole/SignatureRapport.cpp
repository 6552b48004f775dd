// SPDX-License-Identifier: MIT
#include "SignatureRapport.h"

#include <QMessageAuthenticationCode>

namespace {

const char marqueur[SignatureRapport::tailleMarqueur + 1] = "CS1";

} // namespace

QByteArray SignatureRapport::code(const QByteArray &octets, const QByteArray &cle)
{
    return QMessageAuthenticationCode::hash(octets, cle, QCryptographicHash::Sha256);
}

void SignatureRapport::signer(QByteArray &datagramme, const QByteArray &cle, qint64 horodatage)
{
    datagramme.append('\0').append(marqueur, tailleMarqueur);
    for (int i = tailleHorodatage - 1; i >= 0; --i)
        datagramme.append(char(quint64(horodatage) >> (8 * i)));
    datagramme.append(code(datagramme, cle));
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

bool SignatureRapport::verifier(const Lue &signature, const QByteArray &cle)
{
    return signature.presente && egaux(code(signature.signe, cle), signature.code);
}

bool SignatureRapport::egaux(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    // Every byte is looked at whatever the first difference, so that the
    // time taken tells nothing of where it lies.
    volatile quint8 difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference = quint8(difference | (quint8(a.at(i)) ^ quint8(b.at(i))));
    return difference == 0;
}
