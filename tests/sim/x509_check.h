#pragma once
// Test-side checks of what the virtual key signs, made with libcrypto directly.

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::test {

// True when the DER certificate decodes and its key verifies the signature of the message:
// DER ECDSA over SHA-256 for an EC key, Ed25519 over the message itself.
bool signatureVerifies(const std::vector<uint8_t>& certificate, const std::vector<uint8_t>& message,
                       const std::vector<uint8_t>& signature);
// True when leaf decodes, names issuer's subject as its issuer and is signed by its key.
bool issuedBy(const std::vector<uint8_t>& leaf, const std::vector<uint8_t>& issuer);
// The subject as "C=US, O=..., CN=..."; empty when the certificate does not decode.
std::string subjectOf(const std::vector<uint8_t>& certificate);
bool decodes(const std::vector<uint8_t>& certificate);

}  // namespace orvanta::test
