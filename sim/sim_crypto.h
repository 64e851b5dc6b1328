#pragma once
// The virtual key's own cryptography: a deterministic random generator (runs are
// reproducible), P-256 keys that sign and agree, Ed25519 keys that sign, and the hash, MAC
// and cipher helpers of the PIN protocol. The P-256 side stays on mbed TLS: its ECDSA draws
// the nonce from the seeded generator, so signatures are reproducible, which OpenSSL 3.0's
// ECDSA (always the system's randomness) cannot give. Ed25519 is deterministic by itself
// and comes from libcrypto. Every context is owned by one object and freed on every path.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/pk.h>
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

using Bytes = std::vector<uint8_t>;
using Sha256Digest = std::array<uint8_t, 32>;

// CTR_DRBG seeded from a fixed seed text instead of the system's entropy.
class SeededDrbg {
  public:
    explicit SeededDrbg(const std::string& seed);
    ~SeededDrbg();
    SeededDrbg(const SeededDrbg&) = delete;
    SeededDrbg& operator=(const SeededDrbg&) = delete;

    void fill(uint8_t* out, size_t length);
    Bytes bytes(size_t length);
    // For mbed TLS calls that take f_rng / p_rng.
    static int callback(void* drbg, unsigned char* out, size_t length);

  private:
    static int entropy(void* self, unsigned char* out, size_t length);
    std::string seed_;
    uint32_t entropyCounter_ = 0;
    mbedtls_ctr_drbg_context ctx_;
};

// A P-256 key pair in an mbed TLS PK context (usable by the certificate writer too).
class SimKeyPair {
  public:
    SimKeyPair();
    ~SimKeyPair();
    SimKeyPair(const SimKeyPair&) = delete;
    SimKeyPair& operator=(const SimKeyPair&) = delete;

    // Makes a fresh key pair; false when mbed TLS refuses.
    bool generate(SeededDrbg& drbg);
    // 0x04 || X || Y.
    std::array<uint8_t, 65> publicPoint() const;
    // DER ECDSA signature of SHA-256(data); empty on failure.
    Bytes signSha256(const uint8_t* data, size_t length, SeededDrbg& drbg) const;
    // SHA-256 of the X coordinate of d * (x, y); false when the point is not on the curve.
    bool sharedSecret(const uint8_t* x, const uint8_t* y, Sha256Digest& out,
                      SeededDrbg& drbg) const;

    mbedtls_pk_context* pk() const { return &pk_; }

  private:
    mutable mbedtls_pk_context pk_;
};

// An Ed25519 key pair whose private key is 32 bytes of the seeded generator: the same seed
// gives the same key and, Ed25519 signatures being deterministic, the same signatures.
class SimEd25519Key {
  public:
    // Makes a fresh key pair; false when the library refuses.
    bool generate(SeededDrbg& drbg);
    std::array<uint8_t, 32> publicKey() const;
    // The 64-byte signature of the data itself (Ed25519 hashes internally); empty on
    // failure or without a key.
    Bytes sign(const uint8_t* data, size_t length) const;

    EVP_PKEY* pkey() const { return key_.get(); }

  private:
    struct Free {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    std::unique_ptr<EVP_PKEY, Free> key_;
};

Sha256Digest sha256Of(const uint8_t* data, size_t length);
inline Sha256Digest sha256Of(const Bytes& data) {
    return sha256Of(data.data(), data.size());
}
Sha256Digest hmacSha256Of(const uint8_t* key, size_t keyLength, const uint8_t* data, size_t length);
// AES-256-CBC with a zero IV; length must be a multiple of 16. False on failure.
bool aes256CbcEncrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out);
bool aes256CbcDecrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out);

}  // namespace orvanta
