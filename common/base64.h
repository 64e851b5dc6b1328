#pragma once
// Base64, the one codec of the project. The encoder writes the standard RFC 4648 alphabet
// with "=" padding and no line breaks. Two decoders:
//  - base64Decode is lenient the way certificate text pasted from elsewhere needs: it skips
//    white space and every character outside the standard alphabet;
//  - base64DecodeStrict takes a whole text or nothing, as the command line reads files: the
//    standard and the URL-safe alphabet alike, white space and trailing padding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

// Number of characters that base64Encode writes for `length` bytes (no terminating zero).
constexpr size_t base64EncodedLength(size_t length) {
    return (length + 2) / 3 * 4;
}

std::string base64Encode(std::span<const uint8_t> data);
inline std::string base64Encode(const uint8_t* data, size_t length) {
    return base64Encode({data, length});
}

// Writes the same text into `output` followed by a terminating zero and returns the number
// of characters (zero excluded). When text and zero do not fit in `capacity` characters,
// nothing but an empty text is written (if capacity allows even that) and 0 is returned.
size_t base64Encode(const uint8_t* data, size_t length, char* output, size_t capacity);

// Decodes at most `maxCharacters` characters of `text`, stopping earlier at a zero
// character. White space, characters outside the alphabet and codes 0x80 to 0xFF are
// skipped. A single pad in the second position of a group ("Y=") gives an empty result;
// other pads are skipped and decoding goes on after them.
std::vector<uint8_t> base64Decode(const char* text, size_t maxCharacters);
// The same on the whole of `text` (still stopping at a zero character).
inline std::vector<uint8_t> base64Decode(std::string_view text) {
    return base64Decode(text.data(), text.size());
}

// Decodes the whole of `text`, or nothing. Each symbol may come from either alphabet ("+"
// or "-" for 62, "/" or "_" for 63); white space (space, tab, line feed, carriage return,
// form feed, vertical tab) is ignored anywhere. Padding is optional and not counted: any
// number of "=" may follow the last symbol, but no symbol may follow a "=". Refused: any
// other character (a zero too), and a lone symbol in the last group, which carries no whole
// byte. Bits left over in the last group are dropped. An empty or blank text gives no bytes.
std::optional<std::vector<uint8_t>> base64DecodeStrict(std::string_view text);

}  // namespace orvanta
