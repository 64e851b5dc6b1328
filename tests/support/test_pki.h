#pragma once
// Keys, certificates and signed JWTs made inside a test, so no key file is stored: seeded
// P-256 keys and libcrypto keys of the other types, certificates written by libcrypto from
// a request, certificates assembled element by element (to give them what no writer
// would), U2F registration responses, and metadata BLOBs signed by the end of a chain.

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ctap/openssl_handles.h"
#include "support/p256_test_key.h"

namespace orvanta::test {

using Pkey = openssl::Pkey;

enum class KeyKind { P256, P384, Rsa2048, Ed25519 };
// A fresh key of the kind.
Pkey makeKey(KeyKind kind);

// A libcrypto key of a type attestation certificates carry besides P-256.
class LibcryptoKey {
  public:
    static LibcryptoKey ed25519(uint8_t seed);  // the same key for the same seed
    static LibcryptoKey rsa2048();              // a fresh key
    static LibcryptoKey p384();                 // a fresh key

    EVP_PKEY* get() const { return key_.get(); }
    std::vector<uint8_t> subjectPublicKeyInfo() const;
    // The key's attestation signature of the message: EdDSA (the message itself), RS256
    // (PKCS#1 v1.5, SHA-256) or ES384 (DER ECDSA, SHA-384).
    std::vector<uint8_t> sign(const std::vector<uint8_t>& message) const;

  private:
    explicit LibcryptoKey(Pkey key) : key_(std::move(key)) {}
    Pkey key_;
};

// Name entries ("C", "O", "OU", "CN") in order.
using NameEntries = std::vector<std::pair<std::string, std::string>>;

struct CertificateRequest {
    int version = 3;                       // 1 or 3
    std::vector<uint8_t> serial = {0x01};  // big-endian magnitude
    NameEntries subject = {{"C", "US"},
                           {"O", "Orvanta Test"},
                           {"OU", "Authenticator Attestation"},
                           {"CN", "Test Attestation"}};
    NameEntries issuer = {{"C", "US"}, {"O", "Orvanta Test"}, {"CN", "Orvanta Test Root"}};
    std::string notBefore = "20200131080000";  // UTC, YYYYMMDDhhmmss
    std::string notAfter = "20450131080000";
    // Basic constraints when set (a CA also gets a critical key usage).
    std::optional<bool> ca;
    // extnValue content of the transports extension (a DER BIT STRING), when present.
    std::optional<std::vector<uint8_t>> transports;
    // The FIDO AAGUID extension (an OCTET STRING of these bytes), when given.
    std::optional<std::vector<uint8_t>> aaguidExtension;
    bool aaguidCritical = false;
};

inline CertificateRequest rootRequest(const std::string& name) {
    CertificateRequest request;
    request.subject = {{"CN", name}};
    request.issuer = request.subject;
    request.ca = true;
    return request;
}
inline CertificateRequest issuedRequest(const std::string& subject, const std::string& issuer,
                                        bool ca = false) {
    CertificateRequest request;
    request.subject = {{"CN", subject}};
    request.issuer = {{"CN", issuer}};
    request.ca = ca;
    return request;
}

// A certificate for `subjectKey`, signed by `issuerKey` (SHA-256, or none for Ed25519).
std::vector<uint8_t> makeCertificate(const CertificateRequest& request, EVP_PKEY* subjectKey,
                                     EVP_PKEY* issuerKey);
inline std::vector<uint8_t> makeCertificate(const CertificateRequest& request,
                                            const P256TestKey& subjectKey,
                                            const P256TestKey& issuerKey) {
    return makeCertificate(request, subjectKey.pkey(), issuerKey.pkey());
}

// A U2F registration response as a key sends it: reserved byte, user key, key handle,
// attestation certificate (subject "... Test U2F Attestation", transports USB and NFC) and
// the attestation key's signature over application, challenge (the fetch's fixed
// parameters unless given), key handle and user key.
struct U2fTestRegistration {
    std::vector<uint8_t> response;
    std::vector<uint8_t> certificate;
    size_t keyHandleLength;
};
U2fTestRegistration makeU2fRegistration(const P256TestKey& attestationKey,
                                        const P256TestKey& userKey, const P256TestKey& caKey,
                                        size_t keyHandleLength = 64,
                                        const uint8_t* challenge = nullptr,
                                        const uint8_t* application = nullptr);

// The certificate with the unused-bits octet of its signature BIT STRING set to `bits`.
std::vector<uint8_t> withSignatureUnusedBits(std::vector<uint8_t> der, uint8_t bits);

// subjectPublicKeyInfo of an uncompressed P-256 point.
std::vector<uint8_t> p256SubjectPublicKeyInfo(std::span<const uint8_t> point);

inline std::vector<uint8_t> textBytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// One AttributeTypeAndValue: the OID's content, the value's tag and content.
struct NameValue {
    std::vector<uint8_t> type;
    uint8_t tag;
    std::vector<uint8_t> value;
};
inline const std::vector<uint8_t> OID_COUNTRY = {0x55, 0x04, 0x06};
inline const std::vector<uint8_t> OID_ORGANIZATION = {0x55, 0x04, 0x0A};
inline const std::vector<uint8_t> OID_COMMON_NAME = {0x55, 0x04, 0x03};
// A Name of the given RDNs, each a SET of its values in the given order.
std::vector<uint8_t> derName(const std::vector<std::vector<NameValue>>& rdns);
// A whole Extension element.
std::vector<uint8_t> derExtension(const std::vector<uint8_t>& oid, bool critical,
                                  const std::vector<uint8_t>& value);

// A certificate assembled from its elements, so a test can give it what a writer would
// not: any serial octets, names of any string type, any key, any extensions. Its
// signature is not made by anyone (decoding does not check it).
struct HandmadeCertificate {
    std::vector<uint8_t> version = {0xA0, 0x03, 0x02, 0x01, 0x02};  // whole element or none
    std::vector<uint8_t> serial = {0x01};                           // INTEGER content
    std::vector<uint8_t> issuer = derName({{{OID_COMMON_NAME, 0x0C, textBytes("Hand Root")}}});
    std::vector<uint8_t> subject =
        derName({{{OID_COMMON_NAME, 0x0C, textBytes("Hand Attestation")}}});
    std::string notBefore = "200131080000Z";  // UTCTime
    std::string notAfter = "450131080000Z";
    std::vector<uint8_t> subjectPublicKeyInfo;
    std::vector<std::vector<uint8_t>> extensions;  // whole Extension elements
};
std::vector<uint8_t> assemble(const HandmadeCertificate& certificate);

std::string toPem(const std::vector<uint8_t>& der);
std::string base64Url(std::string_view bytes);
std::string base64Standard(const std::vector<uint8_t>& bytes);

// A compact JWS of `payload` with `alg` ("ES256", "RS256", "EdDSA") whose header carries
// the chain in x5c.
std::string signJwt(std::string_view payload, std::string_view alg, EVP_PKEY* key,
                    const std::vector<std::vector<uint8_t>>& chain);

}  // namespace orvanta::test
