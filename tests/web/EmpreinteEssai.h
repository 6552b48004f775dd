// SPDX-License-Identifier: MIT
#ifndef EMPREINTEESSAI_H
#define EMPREINTEESSAI_H

#include <QByteArray>

#include <crypt.h>

#include <memory>

// A crypt(3) hash as mkpasswd or htpasswd would write it, on a fixed salt so
// that a failure can be replayed: "$2b$" (cost 5, fast) or "$y$".
inline QByteArray empreinteEssai(const char *prefixe, const QByteArray &motDePasse)
{
    char reglage[CRYPT_GENSALT_OUTPUT_SIZE];
    const unsigned long cout = QByteArray(prefixe) == "$2b$" ? 5 : 0;
    if (!crypt_gensalt_rn(prefixe, cout, "0123456789abcdef", 16, reglage, int(sizeof reglage)))
        return QByteArray();
    auto donnees = std::make_unique<crypt_data>();
    const char *empreinte = crypt_rn(motDePasse.constData(), reglage, donnees.get(), int(sizeof(crypt_data)));
    return empreinte ? QByteArray(empreinte) : QByteArray();
}

#endif
