#include "transport/terminal_text.h"

#include <cstdint>

namespace orvanta {

namespace {

void escapeByte(std::string& out, uint8_t byte) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    out += "\\x";
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
}

// Length of the well-formed UTF-8 sequence at `i` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t sequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    if (byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x20 || lead == 0x7F) {
            escapeByte(out, lead);
            ++i;
        } else if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
        } else if (const size_t length = sequenceLength(text, i); length == 0) {
            escapeByte(out, lead);
            ++i;
        } else if (lead == 0xC2 && static_cast<uint8_t>(text[i + 1]) < 0xA0) {
            // C1 controls (U+0080 to U+009F): CSI among them starts escape sequences too.
            escapeByte(out, lead);
            escapeByte(out, static_cast<uint8_t>(text[i + 1]));
            i += 2;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace orvanta
