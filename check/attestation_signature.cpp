#include "check/attestation_signature.h"

#include "cert/certificate_details.h"
#include "cert/signature_check.h"

namespace orvanta::check {

SignatureCheck checkAttestationSignature(std::span<const uint8_t> certificate,
                                         std::optional<int64_t> alg,
                                         std::span<const uint8_t> signedData,
                                         std::span<const uint8_t> signature) {
    const std::optional<CertificateDetails> details = describeCertificate(certificate);
    if (!details) {
        return SignatureCheck::Undecodable;
    }
    return verifyAttestationSignature(details->subjectPublicKeyInfo, alg, signedData, signature) ==
                   0
               ? SignatureCheck::Valid
               : SignatureCheck::Invalid;
}

}  // namespace orvanta::check
