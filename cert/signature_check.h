#pragma once
// The check of an attestation signature against the key of the attestation certificate,
// for every key type that attestation certificates carry: ECDSA on P-256 (ES256) and
// P-384 (ES384), Ed25519 (EdDSA, the message itself is signed) and RSA with PKCS#1 v1.5
// padding and SHA-256 (RS256). 0 means the signature is valid (shown as "YES"); every
// other value means it is not.

#include <cstdint>
#include <optional>
#include <span>

namespace orvanta {

// COSE algorithm identifiers, as the attestation statement's "alg" gives them.
inline constexpr int64_t COSE_ES256 = -7;
inline constexpr int64_t COSE_EDDSA = -8;
inline constexpr int64_t COSE_ES384 = -35;
inline constexpr int64_t COSE_RS256 = -257;

// Results besides 0.
inline constexpr int SIGNATURE_KEY_UNSUPPORTED = -1;  // no key, or one of another type
inline constexpr int SIGNATURE_ALG_MISMATCH = -2;     // the algorithm does not fit the key
inline constexpr int SIGNATURE_MALFORMED = -3;        // an ECDSA signature that is no DER pair
inline constexpr int SIGNATURE_INVALID = -4;          // the key did not make this signature

// FIDO2 packed attestation: signedData is the authenticator data followed by the client
// data hash; `alg` is the statement's algorithm. Without one, the key's own algorithm is
// taken (ES256 for a P-256 key and so on).
int verifyAttestationSignature(std::span<const uint8_t> subjectPublicKeyInfo,
                               std::optional<int64_t> alg, std::span<const uint8_t> signedData,
                               std::span<const uint8_t> signature);

// U2F registration: signedData is 0x00, application parameter, challenge parameter, key
// handle and user public key; the algorithm is the one of the certificate's key.
int verifyRegistrationSignature(std::span<const uint8_t> subjectPublicKeyInfo,
                                std::span<const uint8_t> signedData,
                                std::span<const uint8_t> signature);

}  // namespace orvanta
