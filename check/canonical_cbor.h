#pragma once
// Whether bytes are one item in the canonical CBOR form CTAP2 requires: integers, lengths
// and counts in their shortest form, definite lengths only, map keys in canonical order
// (lower major type first, then the shorter key, then byte by byte) and each key once, and
// nothing after the item.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvanta::check {

enum class CanonicalFault : uint8_t {
    None,
    Truncated,     // an item runs past the bytes
    Malformed,     // a reserved header, or a break outside an indefinite item
    Indefinite,    // an indefinite length
    LongerForm,    // an argument in a longer form than needed
    KeyOrder,      // map keys out of canonical order
    DuplicateKey,  // a map key given twice
    Trailing,      // bytes after the item
    TooDeep,       // nesting beyond what any reply needs
};

struct CanonicalCheck {
    CanonicalFault fault = CanonicalFault::None;
    size_t offset = 0;  // where the fault is
};

CanonicalCheck checkCanonical(std::span<const uint8_t> bytes);

}  // namespace orvanta::check
