#pragma once
// The virtual key's own cryptography: a deterministic random generator (runs are
// reproducible), P-256 keys that sign and agree, Ed25519 keys that sign, and the hash, MAC
// and cipher helpers of the PIN protocol, all on libcrypto. P-256 signatures take their
// nonce from RFC 6979 (OpenSSL 3.0's ECDSA always draws it from the system's randomness),
// so the same key signs the same message with the same bytes; Ed25519 is deterministic by
// itself. Every context is owned by one object and freed on every path.

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ctap/openssl_handles.h"

namespace orvanta {

using Bytes = std::vector<uint8_t>;
using Sha256Digest = std::array<uint8_t, 32>;

// CTR_DRBG (NIST SP 800-90A, AES-256 with the derivation function) seeded from a fixed
// seed text instead of the system's entropy: the same seed gives the same stream.
class SeededDrbg {
  public:
    explicit SeededDrbg(const std::string& seed);
    ~SeededDrbg();
    SeededDrbg(const SeededDrbg&) = delete;
    SeededDrbg& operator=(const SeededDrbg&) = delete;

    void fill(uint8_t* out, size_t length);
    Bytes bytes(size_t length);

  private:
    static constexpr size_t SEED_LENGTH = 48;  // key and counter block
    void entropy(uint8_t* out, size_t length);
    void seed(const uint8_t* material, size_t length);
    void update(const std::array<uint8_t, SEED_LENGTH>& provided);
    bool generate(uint8_t* out, size_t length);

    std::string seed_;
    uint32_t entropyCounter_ = 0;
    uint32_t reseedCounter_ = 0;
    std::array<uint8_t, 32> key_{};
    std::array<uint8_t, 16> counter_{};
    openssl::CipherCtx aes_;
};

// A P-256 key pair.
class SimKeyPair {
  public:
    SimKeyPair() = default;
    ~SimKeyPair();
    SimKeyPair(const SimKeyPair&) = delete;
    SimKeyPair& operator=(const SimKeyPair&) = delete;

    // Makes a fresh key pair; false when the library refuses.
    bool generate(SeededDrbg& drbg);
    // 0x04 || X || Y.
    std::array<uint8_t, 65> publicPoint() const { return public_; }
    // DER ECDSA signature of SHA-256(data) with the RFC 6979 nonce; empty on failure.
    // `drbg` is not drawn from.
    Bytes signSha256(const uint8_t* data, size_t length, SeededDrbg& drbg) const;
    // The same over a SHA-256 digest already made.
    Bytes signDigest(const Sha256Digest& digest) const;
    // The X coordinate of d * (x, y); false when the point is not on the curve.
    bool sharedPoint(const uint8_t* x, const uint8_t* y, std::array<uint8_t, 32>& sharedX) const;
    // SHA-256 of that X coordinate (`drbg` is not drawn from).
    bool sharedSecret(const uint8_t* x, const uint8_t* y, Sha256Digest& out,
                      SeededDrbg& drbg) const;

    // The key as a libcrypto object (certificates carry its public half); null before
    // generate().
    EVP_PKEY* pkey() const { return key_.get(); }

  private:
    std::array<uint8_t, 32> scalar_{};
    std::array<uint8_t, 65> public_{};
    openssl::Pkey key_;
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
    openssl::Pkey key_;
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
