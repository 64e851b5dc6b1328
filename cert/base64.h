#pragma once
// Base64 with the standard RFC 4648 alphabet and "=" padding, without line breaks. The
// decoder is lenient the way certificate text pasted from elsewhere needs: it skips white
// space and every character outside the alphabet.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// Number of characters that base64Encode writes for `length` bytes (no terminating zero).
constexpr size_t base64EncodedLength(size_t length) {
    return (length + 2) / 3 * 4;
}

std::string base64Encode(const uint8_t* data, size_t length);

// Writes the same text into `output` followed by a terminating zero and returns the number
// of characters (zero excluded). When text and zero do not fit in `capacity` characters,
// nothing but an empty text is written (if capacity allows even that) and 0 is returned.
size_t base64Encode(const uint8_t* data, size_t length, char* output, size_t capacity);

// Decodes at most `maxCharacters` characters of `text`, stopping earlier at a zero
// character. White space, characters outside the alphabet and codes 0x80 to 0xFF are
// skipped. A single pad in the second position of a group ("Y=") gives an empty result;
// other pads are skipped and decoding goes on after them.
std::vector<uint8_t> base64Decode(const char* text, size_t maxCharacters);

}  // namespace orvanta
