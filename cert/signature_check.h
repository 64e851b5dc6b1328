#pragma once
// The check of an attestation signature against the key of the attestation certificate:
// SHA-256 over the signed bytes and ECDSA P-256 verification of the DER signature.
// 0 means the signature is valid (shown as "YES"); every other value means it is not.

#include <cstddef>
#include <cstdint>

namespace orvanta {

// Result when the certificate key is no uncompressed P-256 point of 65 bytes.
inline constexpr int SIGNATURE_KEY_NOT_P256 = -1;

// FIDO2 packed attestation: signedData is the authenticator data followed by the client
// data hash. A key of any length but 65 bytes gives SIGNATURE_KEY_NOT_P256 without hashing.
int verifyAttestationSignature(const uint8_t* publicKey, size_t publicKeyLength,
                               const uint8_t* signedData, size_t signedDataLength,
                               const uint8_t* signature, size_t signatureLength);

// U2F registration: signedData is 0x00, application parameter, challenge parameter, key
// handle and user public key. The key is the certificate's key of whatever length; one
// that is not 65 bytes cannot be a P-256 point and fails the check without being read
// beyond its length.
int verifyRegistrationSignature(const uint8_t* publicKey, size_t publicKeyLength,
                                const uint8_t* signedData, size_t signedDataLength,
                                const uint8_t* signature, size_t signatureLength);

}  // namespace orvanta
