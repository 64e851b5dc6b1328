#pragma once
// A P-256 key pair for tests that signs like an authenticator, made from a seed so that
// every run sees the same keys and signatures (the virtual key's own key pair, RFC 6979
// nonces).

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_crypto.h"

namespace orvanta::test {

// Entropy source that yields the same stream for the same seed (the EntropyFunction form).
struct SeededEntropy {
    uint64_t state;
    static int fill(void* context, unsigned char* output, size_t length);
};

// Entropy source that always fails.
int failingEntropy(void* context, unsigned char* output, size_t length);

// An ECDSA signature as the big-endian contents of its two INTEGERs (minimal form).
struct RawSignature {
    std::vector<uint8_t> r;
    std::vector<uint8_t> s;
};

// DER SEQUENCE { INTEGER r, INTEGER s } with the given INTEGER contents written verbatim
// (so tests can also build non-minimal or padded forms).
std::vector<uint8_t> derSignature(const std::vector<uint8_t>& r, const std::vector<uint8_t>& s);

class P256TestKey {
  public:
    explicit P256TestKey(uint64_t seed);
    P256TestKey(const P256TestKey&) = delete;
    P256TestKey& operator=(const P256TestKey&) = delete;

    // 0x04, X, Y.
    std::array<uint8_t, 65> publicKey() const { return key_.publicPoint(); }
    // DER signature of SHA-256 of the message.
    std::vector<uint8_t> sign(const uint8_t* message, size_t length) const;
    std::vector<uint8_t> sign(const std::vector<uint8_t>& message) const {
        return sign(message.data(), message.size());
    }
    RawSignature signRaw(const uint8_t* message, size_t length) const;
    // X coordinate of this key's private scalar times the given point (0x04, X, Y).
    std::array<uint8_t, 32> agree(const uint8_t* peerX, const uint8_t* peerY) const;
    // The key as a libcrypto object, for certificates.
    EVP_PKEY* pkey() const { return key_.pkey(); }

  private:
    SeededDrbg drbg_;
    SimKeyPair key_;
};

}  // namespace orvanta::test
