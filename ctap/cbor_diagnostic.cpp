#include "ctap/cbor_diagnostic.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/hex_text.h"

namespace orvanta {

namespace {

constexpr int MAX_DEPTH = 16;
constexpr uint64_t INDEFINITE = std::numeric_limits<uint64_t>::max();

class Printer {
  public:
    Printer(std::span<const uint8_t> bytes, size_t maxLength) : bytes_(bytes), max_(maxLength) {}

    std::string run() {
        if (!item(0) || out_.size() > max_) {
            cut();
        }
        return out_;
    }

  private:
    // Reads the initial byte and argument; false at the end of the bytes or on a reserved
    // additional-information value.
    bool header(uint8_t& major, uint8_t& info, uint64_t& argument) {
        if (pos_ >= bytes_.size()) {
            return false;
        }
        const uint8_t initial = bytes_[pos_++];
        major = initial >> 5;
        info = initial & 0x1F;
        if (info < 24) {
            argument = info;
            return true;
        }
        if (info == 31) {
            argument = INDEFINITE;
            return major >= 2;  // unsigned, negative and tags have no indefinite form
        }
        if (info > 27) {
            return false;
        }
        const size_t size = size_t{1} << (info - 24);
        if (bytes_.size() - pos_ < size) {
            return false;
        }
        argument = 0;
        for (size_t i = 0; i < size; ++i) {
            argument = argument << 8 | bytes_[pos_++];
        }
        return true;
    }

    bool full() const { return out_.size() > max_; }

    void put(std::string_view text) { out_.append(text); }

    void putUnsigned(uint64_t n) {
        char text[24];
        out_.append(text, std::to_chars(text, text + sizeof text, n).ptr);
    }

    void putDouble(double value) {
        if (std::isnan(value)) {
            put("NaN");
        } else if (std::isinf(value)) {
            put(value > 0 ? "Infinity" : "-Infinity");
        } else {
            // Plain digits for everyday magnitudes, an exponent for the others; the
            // shortest form that reads back as the same value either way.
            char text[400];
            const double magnitude = std::fabs(value);
            const auto format = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e16)
                                    ? std::chars_format::fixed
                                    : std::chars_format::scientific;
            const auto end = std::to_chars(text, text + sizeof text, value, format).ptr;
            std::string_view number(text, static_cast<size_t>(end - text));
            put(number);
            // A float always shows it is one.
            if (number.find_first_of(".e") == std::string_view::npos) {
                put(".0");
            }
        }
    }

    bool string(uint8_t major, uint64_t length) {
        if (bytes_.size() - pos_ < length) {
            return false;
        }
        const uint8_t* data = bytes_.data() + pos_;
        pos_ += static_cast<size_t>(length);
        if (major == 2) {
            put("h'");
            for (uint64_t i = 0; i < length && !full(); ++i) {
                appendHex(out_, data[i], HexCase::Lower);
            }
            put("'");
            return true;
        }
        put("\"");
        for (uint64_t i = 0; i < length && !full(); ++i) {
            const uint8_t c = data[i];
            if (c == '"' || c == '\\') {
                out_.push_back('\\');
                out_.push_back(static_cast<char>(c));
            } else if (c < 0x20 || c == 0x7F) {
                // Control characters escaped, so a key cannot move the terminal around.
                put("\\u00");
                appendHex(out_, c, HexCase::Lower);
            } else {
                out_.push_back(static_cast<char>(c));
            }
        }
        put("\"");
        return true;
    }

    // The chunks of an indefinite string, each a definite string of the same type.
    bool chunks(uint8_t major) {
        put("(_ ");
        bool first = true;
        while (!full()) {
            if (pos_ >= bytes_.size()) {
                return false;
            }
            if (bytes_[pos_] == 0xFF) {
                ++pos_;
                put(")");
                return true;
            }
            uint8_t chunkMajor = 0;
            uint8_t info = 0;
            uint64_t length = 0;
            if (!header(chunkMajor, info, length) || chunkMajor != major || length == INDEFINITE) {
                return false;
            }
            if (!first) {
                put(", ");
            }
            first = false;
            if (!string(major, length)) {
                return false;
            }
        }
        return true;
    }

    // The elements of an array or the pairs of a map; count INDEFINITE runs to the break.
    bool elements(uint64_t count, bool pairs, int depth) {
        const bool indefinite = count == INDEFINITE;
        if (indefinite) {
            put("_ ");
        }
        for (uint64_t i = 0; indefinite || i < count; ++i) {
            if (full()) {
                return true;
            }
            if (indefinite) {
                if (pos_ >= bytes_.size()) {
                    return false;
                }
                if (bytes_[pos_] == 0xFF) {
                    ++pos_;
                    return true;
                }
            }
            if (i != 0) {
                put(", ");
            }
            if (!item(depth + 1)) {
                return false;
            }
            if (pairs) {
                put(": ");
                if (!item(depth + 1)) {
                    return false;
                }
            }
        }
        return true;
    }

    bool simple(uint8_t info, uint64_t argument) {
        switch (info) {
            case 25: {  // half precision
                const auto half = static_cast<uint16_t>(argument);
                const int exponent = (half >> 10) & 0x1F;
                const int mantissa = half & 0x3FF;
                double value = 0;
                if (exponent == 0) {
                    value = std::ldexp(mantissa, -24);
                } else if (exponent != 31) {
                    value = std::ldexp(mantissa + 1024, exponent - 25);
                } else {
                    value = mantissa == 0 ? std::numeric_limits<double>::infinity()
                                          : std::numeric_limits<double>::quiet_NaN();
                }
                putDouble(half & 0x8000 ? -value : value);
                return true;
            }
            case 26: {
                float value = 0;
                const auto bits = static_cast<uint32_t>(argument);
                std::memcpy(&value, &bits, sizeof value);
                putDouble(value);
                return true;
            }
            case 27: {
                double value = 0;
                std::memcpy(&value, &argument, sizeof value);
                putDouble(value);
                return true;
            }
            case 31:
                return false;  // a break outside an indefinite item
            default:
                break;
        }
        switch (argument) {
            case 20:
                put("false");
                break;
            case 21:
                put("true");
                break;
            case 22:
                put("null");
                break;
            case 23:
                put("undefined");
                break;
            default:
                put("simple(");
                putUnsigned(argument);
                put(")");
        }
        return true;
    }

    bool item(int depth) {
        if (depth > MAX_DEPTH) {
            return false;
        }
        uint8_t major = 0;
        uint8_t info = 0;
        uint64_t argument = 0;
        if (!header(major, info, argument)) {
            return false;
        }
        switch (major) {
            case 0:
                putUnsigned(argument);
                return true;
            case 1:
                put("-");
                if (argument == std::numeric_limits<uint64_t>::max()) {
                    put("18446744073709551616");
                } else {
                    putUnsigned(argument + 1);
                }
                return true;
            case 2:
            case 3:
                return argument == INDEFINITE ? chunks(major) : string(major, argument);
            case 4:
            case 5: {
                const bool map = major == 5;
                put(map ? "{" : "[");
                if (!elements(argument, map, depth)) {
                    return false;
                }
                put(map ? "}" : "]");
                return true;
            }
            case 6:
                putUnsigned(argument);
                put("(");
                if (!item(depth + 1)) {
                    return false;
                }
                put(")");
                return true;
            default:
                return simple(info, argument);
        }
    }

    void cut() {
        if (out_.size() + 3 > max_) {
            out_.resize(max_ >= 3 ? max_ - 3 : 0);
        }
        out_.append("...");
    }

    std::span<const uint8_t> bytes_;
    size_t max_;
    size_t pos_ = 0;
    std::string out_;
};

}  // namespace

std::string cborDiagnostic(std::span<const uint8_t> item, size_t maxLength) {
    return Printer(item, maxLength).run();
}

}  // namespace orvanta
