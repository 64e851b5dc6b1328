#pragma once
// The one UTF-8 encoder, for texts that come from outside as code points (HID product
// strings, certificate names).

#include <cstdint>
#include <string>

namespace orvanta {

inline constexpr uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Appends `codePoint` in UTF-8. What no well-formed UTF-8 text can hold, a surrogate
// (U+D800 to U+DFFF) or a value above U+10FFFF, is written as U+FFFD, so the result is
// always valid UTF-8. Control characters are written as they are; hiding them is up to the
// caller.
inline void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = REPLACEMENT_CHARACTER;
    }
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace orvanta
