#pragma once
// Test-side checks of what the virtual key signs, made with the mbed TLS parser directly.

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::test {

// True when the DER certificate decodes and its key verifies the DER ECDSA signature of
// SHA-256(message).
bool signatureVerifies(const std::vector<uint8_t>& certificate, const std::vector<uint8_t>& message,
                       const std::vector<uint8_t>& signature);
// True when leaf decodes and is signed by the key of issuer.
bool issuedBy(const std::vector<uint8_t>& leaf, const std::vector<uint8_t>& issuer);
// The subject as mbed TLS prints it; empty when the certificate does not decode.
std::string subjectOf(const std::vector<uint8_t>& certificate);
bool decodes(const std::vector<uint8_t>& certificate);

}  // namespace orvanta::test
