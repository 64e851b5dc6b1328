#pragma once
// The one hexadecimal formatter and parser. Pages and messages show bytes in upper-case
// digits; escapes, CBOR diagnostic notation and key identifiers use lower case.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

enum class HexCase { Upper, Lower };

// Appends the two digits of `byte`.
inline void appendHex(std::string& out, uint8_t byte, HexCase letters = HexCase::Upper) {
    const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

// Two digits per byte, each byte followed by `separator` ("" for none).
inline std::string hexText(std::span<const uint8_t> bytes, std::string_view separator = "",
                           HexCase letters = HexCase::Upper) {
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (uint8_t b : bytes) {
        appendHex(text, b, letters);
        text += separator;
    }
    return text;
}

// Four digits, as vendor and product IDs and release numbers are shown.
inline std::string hex4(uint32_t value) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, value >>= 4) {
        text[static_cast<size_t>(i)] = DIGITS[value & 0x0F];
    }
    return text;
}

// The value of one hexadecimal digit of either case, or -1.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The bytes of a text of digit pairs and nothing else, or nothing.
inline std::optional<std::vector<uint8_t>> hexBytes(std::string_view digits) {
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = hexDigitValue(digits[i]);
        const int low = hexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

}  // namespace orvanta
