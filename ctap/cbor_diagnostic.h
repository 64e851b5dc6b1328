#pragma once
// CBOR items in the diagnostic notation of RFC 8949 (section 8), for showing members a
// program does not know: 1, -7, h'0102', "text", [1, 2], {1: true}, 6(h'00'), 1.5, null,
// simple(16), indefinite items as [_ 1, 2].

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvanta {

// The first item of `item` in diagnostic notation, at most `maxLength` characters: a longer
// text, an item nested deeper than 16 levels or bytes that end inside the item are cut and
// end in "...".
std::string cborDiagnostic(std::span<const uint8_t> item, size_t maxLength);

}  // namespace orvanta
