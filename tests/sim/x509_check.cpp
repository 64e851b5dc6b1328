#include "x509_check.h"

#include <mbedtls/pk.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>

namespace orvanta::test {

namespace {

struct Crt {
    Crt() { mbedtls_x509_crt_init(&v); }
    ~Crt() { mbedtls_x509_crt_free(&v); }
    Crt(const Crt&) = delete;
    Crt& operator=(const Crt&) = delete;
    bool parse(const std::vector<uint8_t>& der) {
        return mbedtls_x509_crt_parse_der(&v, der.data(), der.size()) == 0;
    }
    mbedtls_x509_crt v;
};

}  // namespace

bool signatureVerifies(const std::vector<uint8_t>& certificate, const std::vector<uint8_t>& message,
                       const std::vector<uint8_t>& signature) {
    Crt crt;
    if (!crt.parse(certificate)) {
        return false;
    }
    unsigned char hash[32];
    mbedtls_sha256_ret(message.data(), message.size(), hash, 0);
    return mbedtls_pk_verify(&crt.v.pk, MBEDTLS_MD_SHA256, hash, sizeof(hash), signature.data(),
                             signature.size()) == 0;
}

bool issuedBy(const std::vector<uint8_t>& leaf, const std::vector<uint8_t>& issuer) {
    Crt l;
    Crt ca;
    if (!l.parse(leaf) || !ca.parse(issuer)) {
        return false;
    }
    uint32_t flags = 0;
    const int rc = mbedtls_x509_crt_verify(&l.v, &ca.v, nullptr, nullptr, &flags, nullptr, nullptr);
    // Validity times are not judged here: only the signature chain.
    return rc == 0 || (flags & ~(MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_FUTURE)) == 0;
}

std::string subjectOf(const std::vector<uint8_t>& certificate) {
    Crt crt;
    if (!crt.parse(certificate)) {
        return {};
    }
    char text[512];
    const int n = mbedtls_x509_dn_gets(text, sizeof(text), &crt.v.subject);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

bool decodes(const std::vector<uint8_t>& certificate) {
    Crt crt;
    return crt.parse(certificate);
}

}  // namespace orvanta::test
