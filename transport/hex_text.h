#pragma once
// The one hexadecimal formatter: upper-case digits, as every page and message shows bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvanta {

// Two digits per byte, each byte followed by `separator` ("" for none).
inline std::string hexText(std::span<const uint8_t> bytes, std::string_view separator = "") {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (uint8_t b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0x0F];
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

}  // namespace orvanta
