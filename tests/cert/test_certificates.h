#pragma once
// Certificates for the certificate tests, made with the mbed TLS certificate writer from
// seeded keys, so every run sees the same bytes.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/pk.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ctap/mbedtls_contexts.h"
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

}  // namespace orvanta::test
