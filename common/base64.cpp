#include "common/base64.h"

#include <array>
#include <utility>

namespace orvanta {

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char PAD = '=';

// Decoder tables: alphabet characters map to their values, white space and every other code
// are marked. The lenient decoder skips both marks alike; the strict one refuses the second.
constexpr uint8_t WHITE_SPACE = 0xFE;
constexpr uint8_t INVALID = 0xFF;

constexpr std::array<uint8_t, 256> makeDecodeTable(bool urlSafeToo) {
    std::array<uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = INVALID;
    }
    for (uint8_t value = 0; value < 64; ++value) {
        table[static_cast<unsigned char>(ALPHABET[value])] = value;
    }
    if (urlSafeToo) {
        table['-'] = 62;
        table['_'] = 63;
    }
    for (const char space : {'\t', '\n', '\v', '\f', '\r', ' '}) {
        table[static_cast<unsigned char>(space)] = WHITE_SPACE;
    }
    return table;
}

constexpr std::array<uint8_t, 256> STANDARD_TABLE = makeDecodeTable(false);
constexpr std::array<uint8_t, 256> EITHER_ALPHABET_TABLE = makeDecodeTable(true);

// Turns 6-bit symbols into bytes as they come: every symbol but the first of a group of four
// completes a byte, so a group cut short after two or three symbols still gives its whole
// bytes, and the bits left over are dropped.
class SymbolDecoder {
  public:
    void add(uint8_t value) {
        switch (symbols_ % 4) {
            case 0:
                pending_ = static_cast<uint8_t>(value << 2);
                break;
            case 1:
                out_.push_back(static_cast<uint8_t>(pending_ | (value >> 4)));
                pending_ = static_cast<uint8_t>((value & 15) << 4);
                break;
            case 2:
                out_.push_back(static_cast<uint8_t>(pending_ | (value >> 2)));
                pending_ = static_cast<uint8_t>((value & 3) << 6);
                break;
            default:
                out_.push_back(static_cast<uint8_t>(pending_ | value));
                break;
        }
        ++symbols_;
    }
    size_t symbols() const { return symbols_; }
    std::vector<uint8_t> take() { return std::move(out_); }

  private:
    std::vector<uint8_t> out_;
    uint8_t pending_ = 0;
    size_t symbols_ = 0;
};

// Calls sink(character) for each output character.
template <typename Sink>
void encodeInto(std::span<const uint8_t> data, Sink sink) {
    const size_t length = data.size();
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

std::string base64Encode(std::span<const uint8_t> data) {
    std::string text;
    text.reserve(base64EncodedLength(data.size()));
    encodeInto(data, [&text](char c) { text.push_back(c); });
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
    encodeInto({data, length}, [output, &written](char c) { output[written++] = c; });
    output[written] = '\0';
    return written;
}

std::vector<uint8_t> base64Decode(const char* text, size_t maxCharacters) {
    if (text == nullptr) {
        return {};
    }
    SymbolDecoder decoder;
    for (size_t i = 0; i < maxCharacters && text[i] != '\0'; ++i) {
        const char c = text[i];
        if (c == PAD) {
            const bool nextIsPad = i + 1 < maxCharacters && text[i + 1] == PAD;
            if (!nextIsPad && decoder.symbols() % 4 == 1) {
                // A lone character in its group carries no whole byte: the text is broken.
                return {};
            }
            continue;
        }
        const uint8_t value = STANDARD_TABLE[static_cast<unsigned char>(c)];
        if (value == WHITE_SPACE || value == INVALID) {
            continue;
        }
        decoder.add(value);
    }
    return decoder.take();
}

std::optional<std::vector<uint8_t>> base64DecodeStrict(std::string_view text) {
    SymbolDecoder decoder;
    bool padded = false;
    for (char c : text) {
        if (c == PAD) {
            padded = true;
            continue;
        }
        const uint8_t value = EITHER_ALPHABET_TABLE[static_cast<unsigned char>(c)];
        if (value == WHITE_SPACE) {
            continue;
        }
        if (value == INVALID || padded) {
            return std::nullopt;  // a foreign character, or a symbol after the padding
        }
        decoder.add(value);
    }
    if (decoder.symbols() % 4 == 1) {
        return std::nullopt;  // one symbol cannot end a group
    }
    return decoder.take();
}

}  // namespace orvanta
