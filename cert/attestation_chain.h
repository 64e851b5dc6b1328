#pragma once
// Checks of an attestation certificate chain beyond the attestation signature: whether each
// certificate of x5c is signed by the next one (the last by a root the key's metadata names),
// and whether the attestation certificate follows the rules of packed attestation.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "info/page_model.h"

namespace orvanta {

struct ChainCheck {
    bool ok = false;
    std::string reason;  // why not, for a tool tip; empty when ok
};

// One result per certificate of `chain` (DER, attestation certificate first). Certificate i
// is checked against certificate i + 1; the last against `roots` (DER): it holds when a root
// signed it or when it is one of the roots. Without roots the last cannot be checked.
// Signatures: ECDSA with SHA-256 or SHA-384, RSA PKCS#1 with SHA-256, Ed25519.
std::vector<ChainCheck> checkAttestationChain(std::span<const std::vector<uint8_t>> chain,
                                              std::span<const std::vector<uint8_t>> roots);

// The rules a packed attestation certificate must meet: version 3; subject C (a two-letter
// country code), O, OU "Authenticator Attestation" and CN; basic constraints not a CA; the
// AAGUID extension, when present, not critical and equal to `aaguid` (when given). Returns
// the unmet rules (empty: all met).
// "Chain Result" "YES" or "NO" (the reason in the tool tip) for the page's last certificate,
// kept on that certificate too.
void appendChainRow(CertificatePage& page, const ChainCheck& check);
// "Requirements" "OK" or the unmet rules, for the page's last certificate.
void appendRequirementsRow(CertificatePage& page, std::vector<std::string> unmet);

std::vector<std::string> packedAttestationRequirements(
    std::span<const uint8_t> der, std::optional<std::span<const uint8_t>> aaguid);

}  // namespace orvanta
