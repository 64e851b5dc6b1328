#include "cert/base64.h"

#include <array>

namespace orvanta {

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char PAD = '=';

// Decoder table: the 64 alphabet characters map to their values; white space and every
// other code are marked and skipped alike.
constexpr uint8_t WHITE_SPACE = 0xFE;
constexpr uint8_t INVALID = 0xFF;

constexpr std::array<uint8_t, 256> makeDecodeTable() {
    std::array<uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = INVALID;
    }
    for (uint8_t value = 0; value < 64; ++value) {
        table[static_cast<unsigned char>(ALPHABET[value])] = value;
    }
    for (unsigned char space : {'\t', '\n', '\r', ' '}) {
        table[space] = WHITE_SPACE;
    }
    return table;
}

constexpr std::array<uint8_t, 256> DECODE_TABLE = makeDecodeTable();

// Calls sink(character) for each output character.
template <typename Sink>
void encodeInto(const uint8_t* data, size_t length, Sink sink) {
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint8_t a = data[i];
        const uint8_t b = data[i + 1];
        const uint8_t c = data[i + 2];
        sink(ALPHABET[a >> 2]);
        sink(ALPHABET[((a & 3) << 4) | (b >> 4)]);
        sink(ALPHABET[((b & 15) << 2) | (c >> 6)]);
        sink(ALPHABET[c & 63]);
    }
    if (length - i == 1) {
        const uint8_t a = data[i];
        sink(ALPHABET[a >> 2]);
        sink(ALPHABET[(a & 3) << 4]);
        sink(PAD);
        sink(PAD);
    } else if (length - i == 2) {
        const uint8_t a = data[i];
        const uint8_t b = data[i + 1];
        sink(ALPHABET[a >> 2]);
        sink(ALPHABET[((a & 3) << 4) | (b >> 4)]);
        sink(ALPHABET[(b & 15) << 2]);
        sink(PAD);
    }
}

}  // namespace

std::string base64Encode(const uint8_t* data, size_t length) {
    std::string text;
    text.reserve(base64EncodedLength(length));
    encodeInto(data, length, [&text](char c) { text.push_back(c); });
    return text;
}

size_t base64Encode(const uint8_t* data, size_t length, char* output, size_t capacity) {
    if (output == nullptr || capacity == 0) {
        return 0;
    }
    const size_t needed = base64EncodedLength(length);
    if (needed >= capacity) {
        output[0] = '\0';
        return 0;
    }
    size_t written = 0;
    encodeInto(data, length, [output, &written](char c) { output[written++] = c; });
    output[written] = '\0';
    return written;
}

std::vector<uint8_t> base64Decode(const char* text, size_t maxCharacters) {
    std::vector<uint8_t> out;
    if (text == nullptr) {
        return out;
    }
    size_t count = 0;  // accepted alphabet characters
    uint8_t pending = 0;
    for (size_t i = 0; i < maxCharacters && text[i] != '\0'; ++i) {
        const char c = text[i];
        if (c == PAD) {
            const bool nextIsPad = i + 1 < maxCharacters && text[i + 1] == PAD;
            if (!nextIsPad && count % 4 == 1) {
                // A lone character in its group carries no whole byte: the text is broken.
                return {};
            }
            continue;
        }
        const uint8_t value = DECODE_TABLE[static_cast<unsigned char>(c)];
        if (value == WHITE_SPACE || value == INVALID) {
            continue;
        }
        switch (count % 4) {
            case 0:
                pending = static_cast<uint8_t>(value << 2);
                break;
            case 1:
                out.push_back(static_cast<uint8_t>(pending | (value >> 4)));
                pending = static_cast<uint8_t>((value & 15) << 4);
                break;
            case 2:
                out.push_back(static_cast<uint8_t>(pending | (value >> 2)));
                pending = static_cast<uint8_t>((value & 3) << 6);
                break;
            default:
                out.push_back(static_cast<uint8_t>(pending | value));
                break;
        }
        ++count;
    }
    return out;
}

}  // namespace orvanta
