#pragma once
// Keys, certificates and signed JWTs made with libcrypto inside a test, so no key file is
// stored: a root, the chain under it, and metadata BLOBs signed by its end.

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvanta::test {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

enum class KeyKind { P256, Rsa2048, Ed25519 };
Pkey makeKey(KeyKind kind);

struct CertificateRequest {
    std::string subjectCommonName;
    std::string issuerCommonName;  // the same as the subject's: self-signed
    bool ca = false;
    long notBeforeDays = -1;  // from now
    long notAfterDays = 365;
    long serial = 1;
    // Subject entries ("C", "O", "OU", "CN") in order; empty: CN = subjectCommonName only.
    std::vector<std::pair<std::string, std::string>> subject;
    // The FIDO AAGUID extension (an OCTET STRING of these bytes), when given.
    std::optional<std::vector<uint8_t>> aaguidExtension;
    bool aaguidCritical = false;
};

inline CertificateRequest rootRequest(std::string name) {
    CertificateRequest request;
    request.subjectCommonName = name;
    request.issuerCommonName = std::move(name);
    request.ca = true;
    return request;
}
inline CertificateRequest issuedRequest(std::string subject, std::string issuer, bool ca = false) {
    CertificateRequest request;
    request.subjectCommonName = std::move(subject);
    request.issuerCommonName = std::move(issuer);
    request.ca = ca;
    return request;
}

// A certificate for `subjectKey`, signed by `issuerKey` (SHA-256, or none for Ed25519).
std::vector<uint8_t> makeCertificate(const CertificateRequest& request, EVP_PKEY* subjectKey,
                                     EVP_PKEY* issuerKey);

std::string toPem(const std::vector<uint8_t>& der);
std::string base64Url(std::string_view bytes);
std::string base64Standard(const std::vector<uint8_t>& bytes);

// A compact JWS of `payload` with `alg` ("ES256", "RS256", "EdDSA") whose header carries
// the chain in x5c.
std::string signJwt(std::string_view payload, std::string_view alg, EVP_PKEY* key,
                    const std::vector<std::vector<uint8_t>>& chain);

}  // namespace orvanta::test
