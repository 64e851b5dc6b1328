#pragma once
// Well-formedness of CBOR read from files (RFC 8949, section 5.3.1), so the decoders can
// refuse a broken file with a clear message instead of showing what a lenient walk makes of
// it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta::cli {

// Nesting deeper than this is refused (no reply of a key comes near it).
inline constexpr int MAX_CBOR_DEPTH = 32;

struct CborCheck {
    bool ok = false;
    size_t itemLength = 0;  // bytes of the first item when ok
    std::string error;      // what is wrong otherwise
};

// Checks the first item of the bytes.
CborCheck checkCborItem(const uint8_t* data, size_t length);

}  // namespace orvanta::cli
