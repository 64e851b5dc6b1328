#include "common/terminal_text.h"

#include <cstdint>

#include "common/hex_text.h"
#include "common/utf8.h"

namespace orvanta {

namespace {

void escapeByte(std::string& out, uint8_t byte) {
    out += "\\x";
    appendHex(out, byte, HexCase::Lower);
}

// The embeddings, overrides and isolates (U+202A to U+202E, U+2066 to U+2069): they reorder
// what follows them on the line, so a text could show other characters than it holds.
bool isBidiControl(uint32_t codePoint) {
    return (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
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
        } else if (const std::optional<Utf8Character> c = decodeUtf8(text, i); !c) {
            escapeByte(out, lead);
            ++i;
        } else if (c->codePoint < 0xA0 || isBidiControl(c->codePoint)) {
            // C1 controls (U+0080 to U+009F): CSI among them starts escape sequences too.
            for (size_t k = 0; k < c->length; ++k) {
                escapeByte(out, static_cast<uint8_t>(text[i + k]));
            }
            i += c->length;
        } else {
            out.append(text.substr(i, c->length));
            i += c->length;
        }
    }
    return out;
}

}  // namespace orvanta
