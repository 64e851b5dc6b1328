#pragma once
// The attestation signature of a registration against its attestation certificate.

#include <cstdint>
#include <optional>
#include <span>

namespace orvanta::check {

enum class SignatureCheck : uint8_t { Valid, Invalid, Undecodable };

SignatureCheck checkAttestationSignature(std::span<const uint8_t> certificate,
                                         std::optional<int64_t> alg,
                                         std::span<const uint8_t> signedData,
                                         std::span<const uint8_t> signature);

}  // namespace orvanta::check
