#include "cert/signature_check.h"

#include "ctap/crypto.h"

namespace orvanta {

namespace {

int verifyWithCertificateKey(const uint8_t* publicKey, size_t publicKeyLength,
                             const uint8_t* signedData, size_t signedDataLength,
                             const uint8_t* signature, size_t signatureLength) {
    if (publicKey == nullptr || publicKeyLength != P256_PUBLIC_KEY_LENGTH) {
        return SIGNATURE_KEY_NOT_P256;
    }
    // No signature at all reads as one whose r cannot be read.
    const std::span<const uint8_t> signatureBytes =
        signature != nullptr ? std::span(signature, signatureLength) : std::span<const uint8_t>();
    return verifyEcdsaP256(
        signatureBytes, std::span(signedData, signedDataLength),
        std::span<const uint8_t, P256_PUBLIC_KEY_LENGTH>(publicKey, P256_PUBLIC_KEY_LENGTH));
}

}  // namespace

int verifyAttestationSignature(const uint8_t* publicKey, size_t publicKeyLength,
                               const uint8_t* signedData, size_t signedDataLength,
                               const uint8_t* signature, size_t signatureLength) {
    return verifyWithCertificateKey(publicKey, publicKeyLength, signedData, signedDataLength,
                                    signature, signatureLength);
}

int verifyRegistrationSignature(const uint8_t* publicKey, size_t publicKeyLength,
                                const uint8_t* signedData, size_t signedDataLength,
                                const uint8_t* signature, size_t signatureLength) {
    // Keys of other lengths (a P-384 certificate, a truncated key) would otherwise be read
    // as 65 bytes; they cannot match a P-256 signature anyway.
    return verifyWithCertificateKey(publicKey, publicKeyLength, signedData, signedDataLength,
                                    signature, signatureLength);
}

}  // namespace orvanta
