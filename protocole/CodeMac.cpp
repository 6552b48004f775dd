// SPDX-License-Identifier: MIT
#include "CodeMac.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

CodeMac::CodeMac(const QByteArray &cle)
    : m_mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr))
{
    if (!m_mac)
        return;
    m_prepare = EVP_MAC_CTX_new(m_mac);
    char sha256[] = "SHA256";
    const OSSL_PARAM parametres[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sha256, 0),
                                     OSSL_PARAM_construct_end()};
    if (m_prepare
        && EVP_MAC_init(m_prepare, reinterpret_cast<const unsigned char *>(cle.constData()), size_t(cle.size()), parametres)
               != 1) {
        EVP_MAC_CTX_free(m_prepare);
        m_prepare = nullptr;
    }
}

CodeMac::~CodeMac()
{
    EVP_MAC_CTX_free(m_prepare);
    EVP_MAC_free(m_mac);
}

QByteArray CodeMac::calculer(const char *octets, int longueur) const
{
    // A copy of the prepared state for each message: the key is not hashed again.
    EVP_MAC_CTX *contexte = m_prepare ? EVP_MAC_CTX_dup(m_prepare) : nullptr;
    QByteArray code(taille, Qt::Uninitialized);
    size_t ecrit = 0;
    const bool reussi = contexte
                        && EVP_MAC_update(contexte, reinterpret_cast<const unsigned char *>(octets), size_t(longueur)) == 1
                        && EVP_MAC_final(contexte, reinterpret_cast<unsigned char *>(code.data()), &ecrit, taille) == 1
                        && ecrit == taille;
    EVP_MAC_CTX_free(contexte);
    // No code at all rather than one that anything could match.
    return reussi ? code : QByteArray();
}

bool CodeMac::verifier(const char *octets, int longueur, const char *code) const
{
    const QByteArray attendu = calculer(octets, longueur);
    return attendu.size() == taille && CRYPTO_memcmp(attendu.constData(), code, taille) == 0;
}
