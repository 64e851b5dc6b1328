#pragma once
// The one UTF-8 encoder and decoder: texts come from outside as code points (HID product
// strings, certificate names) or as bytes that need not be well-formed (terminal output).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

struct Utf8Character {
    uint32_t codePoint = 0;
    size_t length = 0;  // bytes, 1 to 4
};

// The well-formed UTF-8 sequence at text[at] (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF), or nothing. `at` must be inside the text.
inline std::optional<Utf8Character> decodeUtf8(std::string_view text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[at + k]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) {
        return Utf8Character{lead, 1};
    }
    size_t length;
    uint32_t codePoint;
    uint8_t low = 0x80;  // the range of the second byte
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) {
        return std::nullopt;
    }
    for (size_t k = 1; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xBF) {
            return std::nullopt;
        }
        codePoint = codePoint << 6 | (byte(k) & 0x3Fu);
    }
    return Utf8Character{codePoint, length};
}

// How many bytes the first `characters` characters of the text take (all of it when it has
// fewer). A byte that starts no well-formed sequence counts as a character of its own, so
// a cut there never splits a well-formed one.
inline size_t utf8PrefixLength(std::string_view text, size_t characters) {
    size_t at = 0;
    for (; characters > 0 && at < text.size(); --characters) {
        const std::optional<Utf8Character> c = decodeUtf8(text, at);
        at += c ? c->length : 1;
    }
    return at;
}

}  // namespace orvanta
