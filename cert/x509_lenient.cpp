#include "cert/x509_lenient.h"

#include <mbedtls/asn1.h>

#include <vector>

namespace orvanta {

std::optional<size_t> nonZeroSignatureUnusedBits(const uint8_t* der, size_t length) {
    if (der == nullptr || length == 0) {
        return std::nullopt;
    }
    unsigned char* start = const_cast<unsigned char*>(der);
    unsigned char* p = start;
    const unsigned char* end = start + length;
    size_t len = 0;
    constexpr int SEQUENCE = MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE;
    if (mbedtls_asn1_get_tag(&p, end, &len, SEQUENCE) != 0) {
        return std::nullopt;
    }
    const unsigned char* certificateEnd = p + len;
    // tbsCertificate and signatureAlgorithm are skipped whole.
    for (int field = 0; field < 2; ++field) {
        if (mbedtls_asn1_get_tag(&p, certificateEnd, &len, SEQUENCE) != 0) {
            return std::nullopt;
        }
        p += len;
    }
    if (mbedtls_asn1_get_tag(&p, certificateEnd, &len, MBEDTLS_ASN1_BIT_STRING) != 0 || len == 0 ||
        p + len != certificateEnd || *p == 0) {
        return std::nullopt;
    }
    return static_cast<size_t>(p - start);
}

int parseCertificateLenient(const uint8_t* der, size_t length, mbedtls_x509_crt* certificate) {
    int result = mbedtls_x509_crt_parse_der(certificate, der, length);
    if (result == 0) {
        return 0;
    }
    std::optional<size_t> offset = nonZeroSignatureUnusedBits(der, length);
    if (!offset) {
        return result;
    }
    std::vector<uint8_t> patched(der, der + length);
    patched[*offset] = 0;
    // A failed parse leaves the chain empty again, so it can take the retry.
    mbedtls_x509_crt_free(certificate);
    mbedtls_x509_crt_init(certificate);
    if (mbedtls_x509_crt_parse_der(certificate, patched.data(), patched.size()) != 0) {
        mbedtls_x509_crt_free(certificate);
        mbedtls_x509_crt_init(certificate);
        return result;
    }
    return 0;
}

}  // namespace orvanta
