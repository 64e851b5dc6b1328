#pragma once
// The fixed set of primitives of the CTAP2 PIN protocol 1 and of the attestation checks:
// P-256 key agreement, SHA-256, AES-256-CBC with a zero IV, HMAC-SHA-256 and ES256
// signature verification. Every call sets up and releases its own contexts; nothing is
// kept between calls. Results: 0 on success, otherwise a negative mbed TLS error code
// passed through unchanged (or one of the codes documented below).

#include <mbedtls/ctr_drbg.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvanta {

inline constexpr size_t P256_COORDINATE_LENGTH = 32;
inline constexpr size_t P256_PUBLIC_KEY_LENGTH = 65;  // 0x04, X, Y
inline constexpr size_t SHA256_LENGTH = 32;
inline constexpr size_t SHARED_SECRET_LENGTH = 32;
inline constexpr size_t AES_KEY_LENGTH = 32;
inline constexpr size_t AES_BLOCK_LENGTH = 16;

// Result of a key agreement whose random generator could not be seeded (any seeding
// failure is reported as this code, so the PIN step can tell it from other failures).
inline constexpr int KEY_AGREEMENT_SEED_FAILED = MBEDTLS_ERR_CTR_DRBG_ENTROPY_SOURCE_FAILED;

// Results of verifyEcdsaP256 besides 0 (valid) and the library's own codes.
inline constexpr int SIGNATURE_R_UNREADABLE = -1;
inline constexpr int SIGNATURE_S_UNREADABLE = -2;

// Source of seed material: fills `output` with `length` bytes, returns 0 or non-zero on
// failure (the mbed TLS entropy callback form).
using EntropyFunction = int (*)(void* context, unsigned char* output, size_t length);

// A P-256 coordinate, big endian.
using P256Coordinate = std::span<const uint8_t, P256_COORDINATE_LENGTH>;
using P256CoordinateOut = std::span<uint8_t, P256_COORDINATE_LENGTH>;

// Platform side of the PIN protocol 1 key agreement. Takes the authenticator's public
// key coordinates, makes a fresh P-256 key pair, and gives the platform public key
// coordinates and the shared secret: SHA-256 of the X coordinate of the shared point. The
// generator is a CTR_DRBG seeded from the entropy collector with the personalisation
// "ecdh\0". An authenticator point that is not on the curve fails with the library's
// code. The ephemeral private key is wiped before return.
int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret);
// The same, seeded from the given source instead of the entropy collector (deterministic
// keys for tests and the virtual key).
int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                        EntropyFunction entropy, void* entropyContext);

// SHA-256 of the data.
int sha256(std::span<const uint8_t> data, std::span<uint8_t, SHA256_LENGTH> digest);

// AES-256-CBC with an all-zero IV that is fresh for every call. The input's length must be
// a multiple of 16 and the output at least as long (else
// MBEDTLS_ERR_AES_INVALID_INPUT_LENGTH); output and input may be the same buffer.
int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output);
int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output);

// HMAC-SHA-256 with a key of any length; gives 32 bytes (callers truncate).
int hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
               std::span<uint8_t, SHA256_LENGTH> mac);

// Verifies an ES256 signature: `signature` is a DER SEQUENCE of the INTEGERs r and s,
// exactly the span (r and s of any length the encoding allows, leading zero bytes
// included), `message` is hashed with SHA-256, `publicKey` is 0x04, X, Y (the first byte is
// not examined, the point must be on the curve). Returns 0 when the signature is valid;
// SIGNATURE_R_UNREADABLE when the sequence or r cannot be read (an empty signature among
// them); SIGNATURE_S_UNREADABLE when s cannot be read; MBEDTLS_ERR_ASN1_LENGTH_MISMATCH
// when bytes follow s or the sequence; otherwise the library's non-zero result.
int verifyEcdsaP256(std::span<const uint8_t> signature, std::span<const uint8_t> message,
                    std::span<const uint8_t, P256_PUBLIC_KEY_LENGTH> publicKey);

}  // namespace orvanta
