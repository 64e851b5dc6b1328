#pragma once
// Certificates for the certificate tests. The P-256 and P-384 ones come from the mbed TLS
// certificate writer and seeded keys: its ECDSA takes the seeded nonce, so every run sees
// the same bytes (OpenSSL 3.0 always signs ECDSA with fresh randomness). Keys of the other
// types (Ed25519, RSA) come from libcrypto, and certificates that no writer would make are
// assembled element by element.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/pk.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/mbedtls_contexts.h"
#include "support/p256_test_key.h"

namespace orvanta::test {

// A key pair in a pk context (P-256 or P-384), made from a seed.
class TestKey {
  public:
    explicit TestKey(uint64_t seed, bool p384 = false);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    mbedtls_pk_context* pk() { return &pk_; }
    // The uncompressed public point (65 bytes for P-256, 97 for P-384).
    std::vector<uint8_t> publicPoint();
    // DER ES256 signature of SHA-256 of the message.
    std::vector<uint8_t> sign(const std::vector<uint8_t>& message);
    mbedtls_ctr_drbg_context* drbg() { return drbg_.get(); }

  private:
    SeededEntropy entropy_;
    CtrDrbgContext drbg_;
    mbedtls_pk_context pk_;
};

struct CertificateShape {
    int version = 3;                       // 1 or 3
    std::vector<uint8_t> serial = {0x01};  // big-endian magnitude
    std::string subject = "C=US,O=Orvanta Test,OU=Authenticator Attestation,CN=Test Attestation";
    std::string issuer = "C=US,O=Orvanta Test,CN=Orvanta Test Root";
    std::string notBefore = "20200131080000";  // UTC, YYYYMMDDhhmmss
    std::string notAfter = "20450131080000";
    // extnValue content of the transports extension (a DER BIT STRING), when present.
    std::optional<std::vector<uint8_t>> transports;
};

// Signs a certificate for `subjectKey` with `issuerKey` (ECDSA with SHA-256).
std::vector<uint8_t> makeCertificate(const CertificateShape& shape, TestKey& subjectKey,
                                     TestKey& issuerKey);

// A U2F registration response as a key sends it: reserved byte, user key, key handle,
// attestation certificate (subject "... Test U2F Attestation", transports USB and NFC) and
// the attestation key's signature over application, challenge (the fetch's fixed
// parameters unless given), key handle and user key.
struct U2fTestRegistration {
    std::vector<uint8_t> response;
    std::vector<uint8_t> certificate;
    size_t keyHandleLength;
};
U2fTestRegistration makeU2fRegistration(TestKey& attestationKey, TestKey& userKey, TestKey& caKey,
                                        size_t keyHandleLength = 64,
                                        const uint8_t* challenge = nullptr,
                                        const uint8_t* application = nullptr);

// The certificate with the unused-bits octet of its signature BIT STRING set to `bits`.
std::vector<uint8_t> withSignatureUnusedBits(std::vector<uint8_t> der, uint8_t bits);

// A libcrypto key of a type attestation certificates carry besides P-256.
class LibcryptoKey {
  public:
    static LibcryptoKey ed25519(uint8_t seed);  // the same key for the same seed
    static LibcryptoKey rsa2048();              // a fresh key
    static LibcryptoKey p384();                 // a fresh key

    std::vector<uint8_t> subjectPublicKeyInfo() const;
    // The key's attestation signature of the message: EdDSA (the message itself), RS256
    // (PKCS#1 v1.5, SHA-256) or ES384 (DER ECDSA, SHA-384).
    std::vector<uint8_t> sign(const std::vector<uint8_t>& message) const;

  private:
    struct Free {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    explicit LibcryptoKey(EVP_PKEY* key) : key_(key) {}
    std::unique_ptr<EVP_PKEY, Free> key_;
};

// subjectPublicKeyInfo of an uncompressed P-256 point.
std::vector<uint8_t> p256SubjectPublicKeyInfo(const std::vector<uint8_t>& point);

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

}  // namespace orvanta::test
