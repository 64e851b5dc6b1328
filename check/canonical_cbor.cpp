#include "check/canonical_cbor.h"

#include <algorithm>
#include <optional>

namespace orvanta::check {

namespace {

constexpr int MAX_DEPTH = 16;

class Walker {
  public:
    explicit Walker(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    // One item from pos_; the fault of the first rule it breaks.
    CanonicalFault item(int depth) {
        if (depth > MAX_DEPTH) {
            return CanonicalFault::TooDeep;
        }
        if (pos_ >= bytes_.size()) {
            return CanonicalFault::Truncated;
        }
        const uint8_t initial = bytes_[pos_];
        const uint8_t major = static_cast<uint8_t>(initial >> 5);
        const uint8_t info = static_cast<uint8_t>(initial & 0x1F);
        ++pos_;
        uint64_t argument = info;
        if (info == 31) {
            return major >= 2 && major <= 5 ? CanonicalFault::Indefinite
                                            : CanonicalFault::Malformed;
        }
        if (info >= 28) {
            return CanonicalFault::Malformed;
        }
        if (info >= 24) {
            const size_t size = size_t{1} << (info - 24);
            if (bytes_.size() - pos_ < size) {
                return CanonicalFault::Truncated;
            }
            argument = 0;
            for (size_t i = 0; i < size; ++i) {
                argument = argument << 8 | bytes_[pos_ + i];
            }
            pos_ += size;
            // Floats (major type 7, 25 to 27) are no arguments; the rest must be shortest.
            const bool isFloat = major == 7 && info >= 25;
            const uint64_t smallest =
                info == 24 ? (major == 7 ? 32 : 24) : uint64_t{1} << (4 << (info - 24));
            if (!isFloat && argument < smallest) {
                return CanonicalFault::LongerForm;
            }
        }
        switch (major) {
            case 2:
            case 3:
                if (argument > bytes_.size() - pos_) {
                    return CanonicalFault::Truncated;
                }
                pos_ += static_cast<size_t>(argument);
                return CanonicalFault::None;
            case 4:
                for (uint64_t i = 0; i < argument; ++i) {
                    if (CanonicalFault f = item(depth + 1); f != CanonicalFault::None) {
                        return f;
                    }
                }
                return CanonicalFault::None;
            case 5:
                return map(argument, depth);
            case 6:
                return item(depth + 1);
            default:
                return CanonicalFault::None;
        }
    }

    size_t position() const { return pos_; }

  private:
    CanonicalFault map(uint64_t pairs, int depth) {
        std::optional<std::span<const uint8_t>> previous;
        for (uint64_t i = 0; i < pairs; ++i) {
            const size_t keyStart = pos_;
            if (CanonicalFault f = item(depth + 1); f != CanonicalFault::None) {
                return f;
            }
            const std::span<const uint8_t> key = bytes_.subspan(keyStart, pos_ - keyStart);
            if (previous) {
                const int order = compareKeys(*previous, key);
                if (order == 0) {
                    pos_ = keyStart;
                    return CanonicalFault::DuplicateKey;
                }
                if (order > 0) {
                    pos_ = keyStart;
                    return CanonicalFault::KeyOrder;
                }
            }
            previous = key;
            if (CanonicalFault f = item(depth + 1); f != CanonicalFault::None) {
                return f;
            }
        }
        return CanonicalFault::None;
    }

    // Lower major type first, then the shorter encoding, then byte by byte.
    static int compareKeys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
        const int majorA = a[0] >> 5;
        const int majorB = b[0] >> 5;
        if (majorA != majorB) {
            return majorA < majorB ? -1 : 1;
        }
        if (a.size() != b.size()) {
            return a.size() < b.size() ? -1 : 1;
        }
        const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
        if (diff.first == a.end()) {
            return 0;
        }
        return *diff.first < *diff.second ? -1 : 1;
    }

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

}  // namespace

CanonicalCheck checkCanonical(std::span<const uint8_t> bytes) {
    Walker walker(bytes);
    const CanonicalFault fault = walker.item(0);
    if (fault != CanonicalFault::None) {
        return {fault, walker.position()};
    }
    if (walker.position() != bytes.size()) {
        return {CanonicalFault::Trailing, walker.position()};
    }
    return {};
}

}  // namespace orvanta::check
