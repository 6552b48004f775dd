// SPDX-License-Identifier: MIT
#ifndef CODEMAC_H
#define CODEMAC_H

#include <QByteArray>

struct evp_mac_st;
struct evp_mac_ctx_st;

// HMAC-SHA-256 under one key, through OpenSSL's libcrypto: its SHA-256 is
// several times faster than Qt's own, and the key is prepared once rather
// than for every report.
class CodeMac
{
public:
    static constexpr int taille = 32;

    explicit CodeMac(const QByteArray &cle);
    ~CodeMac();
    CodeMac(const CodeMac &) = delete;
    CodeMac &operator=(const CodeMac &) = delete;

    QByteArray calculer(const char *octets, int longueur) const;
    // Compares in constant time (CRYPTO_memcmp).
    bool verifier(const char *octets, int longueur, const char *code) const;

private:
    evp_mac_st *m_mac = nullptr;
    evp_mac_ctx_st *m_prepare = nullptr;
};

#endif
