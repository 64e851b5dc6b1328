#pragma once
// The fixed set of primitives of the CTAP2 PIN protocols and of the ES256 check: P-256 key
// agreement, SHA-256, HKDF-SHA-256, AES-256-CBC, HMAC-SHA-256 and ES256 signature
// verification, on OpenSSL's libcrypto. Every call sets up and releases its own contexts;
// nothing is kept between calls. Results: 0 on success, otherwise one of the negative codes
// below.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvanta {

inline constexpr size_t P256_COORDINATE_LENGTH = 32;
inline constexpr size_t P256_PUBLIC_KEY_LENGTH = 65;  // 0x04, X, Y
inline constexpr size_t P256_SCALAR_LENGTH = 32;
inline constexpr size_t SHA256_LENGTH = 32;
inline constexpr size_t SHARED_SECRET_LENGTH = 32;
inline constexpr size_t AES_KEY_LENGTH = 32;
inline constexpr size_t AES_BLOCK_LENGTH = 16;

// Failures. The values are fixed so that logs and tests can tell them apart.
inline constexpr int CRYPTO_FAILED = -0x7F00;          // the library refused the operation
inline constexpr int CRYPTO_BAD_LENGTH = -0x0022;      // input not in whole blocks, room short
inline constexpr int CRYPTO_POINT_INVALID = -0x4C80;   // a public key that is no curve point
inline constexpr int CRYPTO_SCALAR_INVALID = -0x4C81;  // a private scalar of 0 or >= n
// Result of a key agreement whose random source failed (the PIN step tells it from other
// failures).
inline constexpr int KEY_AGREEMENT_SEED_FAILED = -0x0034;

// Results of verifyEcdsaP256 besides 0 (valid) and the codes above.
inline constexpr int SIGNATURE_R_UNREADABLE = -1;
inline constexpr int SIGNATURE_S_UNREADABLE = -2;
inline constexpr int SIGNATURE_TRAILING_BYTES = -0x0066;
inline constexpr int SIGNATURE_INVALID = -0x4E00;

// Source of random bytes: fills `output` with `length` bytes, returns 0 or non-zero on
// failure.
using EntropyFunction = int (*)(void* context, unsigned char* output, size_t length);

// A P-256 coordinate, big endian.
using P256Coordinate = std::span<const uint8_t, P256_COORDINATE_LENGTH>;
using P256CoordinateOut = std::span<uint8_t, P256_COORDINATE_LENGTH>;

// Platform side of the PIN protocol 1 key agreement. Takes the authenticator's public
// key coordinates, makes a fresh P-256 key pair, and gives the platform public key
// coordinates and the shared secret: SHA-256 of the X coordinate of the shared point. The
// private scalar comes from the system's random generator. An authenticator point that is
// not on the curve fails with CRYPTO_POINT_INVALID. The ephemeral private key is wiped
// before return.
int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret);
// The same with the private scalar drawn from the given source instead (deterministic keys
// for tests).
int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                        EntropyFunction entropy, void* entropyContext);
// The same, giving the X coordinate of the shared point itself (PIN protocol 2 derives its
// keys from it with HKDF). `entropy` null: the system's random generator.
int computeSharedPoint(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                       P256CoordinateOut platformY, P256CoordinateOut sharedX,
                       EntropyFunction entropy = nullptr, void* entropyContext = nullptr);

// Authenticator side: the public key of a private scalar, and the X coordinate of the point
// shared with a peer key.
int p256PublicKey(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar, P256CoordinateOut x,
                  P256CoordinateOut y);
int p256SharedX(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar, P256Coordinate peerX,
                P256Coordinate peerY, P256CoordinateOut sharedX);

// Bytes from the system's random generator.
int randomBytes(std::span<uint8_t> output);

// HKDF-SHA-256 (RFC 5869): fills `output` from the input keying material, salt and info.
int hkdfSha256(std::span<const uint8_t> salt, std::span<const uint8_t> keyMaterial,
               std::span<const uint8_t> info, std::span<uint8_t> output);

// SHA-256 of the data.
int sha256(std::span<const uint8_t> data, std::span<uint8_t, SHA256_LENGTH> digest);

// AES-256-CBC without padding, with an all-zero IV that is fresh for every call. The
// input's length must be a multiple of 16 and the output at least as long (else
// CRYPTO_BAD_LENGTH); output and input may be the same buffer.
int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output);
int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output);
// The same with the given IV.
int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key,
                  std::span<const uint8_t, AES_BLOCK_LENGTH> iv, std::span<const uint8_t> input,
                  std::span<uint8_t> output);
int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key,
                  std::span<const uint8_t, AES_BLOCK_LENGTH> iv, std::span<const uint8_t> input,
                  std::span<uint8_t> output);

// HMAC-SHA-256 with a key of any length; gives 32 bytes (callers truncate).
int hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
               std::span<uint8_t, SHA256_LENGTH> mac);

// Longest DER ES256 signature: SEQUENCE of two INTEGERs of up to 33 bytes each.
inline constexpr size_t ES256_SIGNATURE_MAX_LENGTH = 72;

// Signs a SHA-256 digest with the P-256 private scalar, the nonce made from key and digest
// as RFC 6979 (HMAC-SHA-256) does, so the same key and digest always give the same
// signature. Writes the DER SEQUENCE of r and s (minimal INTEGERs) to `signature` and its
// length to `length`. CRYPTO_SCALAR_INVALID for a scalar of 0 or >= n, CRYPTO_BAD_LENGTH
// when `signature` is too short.
int signEcdsaP256(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar,
                  std::span<const uint8_t, SHA256_LENGTH> digest, std::span<uint8_t> signature,
                  size_t& length);

// Verifies an ES256 signature: `signature` is a DER SEQUENCE of the INTEGERs r and s,
// exactly the span (r and s of any length the encoding allows, leading zero bytes
// included), `message` is hashed with SHA-256, `publicKey` is 0x04, X, Y (the first byte is
// not examined, the point must be on the curve). Returns 0 when the signature is valid;
// SIGNATURE_R_UNREADABLE when the sequence or r cannot be read (an empty signature among
// them); SIGNATURE_S_UNREADABLE when s cannot be read; SIGNATURE_TRAILING_BYTES when bytes
// follow s or the sequence; CRYPTO_POINT_INVALID for a key off the curve; otherwise
// SIGNATURE_INVALID.
int verifyEcdsaP256(std::span<const uint8_t> signature, std::span<const uint8_t> message,
                    std::span<const uint8_t, P256_PUBLIC_KEY_LENGTH> publicKey);

}  // namespace orvanta
