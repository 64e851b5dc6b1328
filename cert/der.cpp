#include "cert/der.h"

namespace orvanta {

std::optional<DerElement> DerCursor::next() {
    if (rest_.size() < 2 || (rest_[0] & 0x1F) == 0x1F) {
        return std::nullopt;  // nothing left, or a multi-octet tag
    }
    size_t header = 2;
    size_t length = rest_[1];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || rest_.size() - 2 < count) {
            return std::nullopt;  // indefinite, or longer than anything read here
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = (length << 8) | rest_[2 + i];
        }
        header += count;
    }
    if (length > rest_.size() - header) {
        return std::nullopt;
    }
    DerElement element;
    element.tag = rest_[0];
    element.content = rest_.subspan(header, length);
    element.whole = rest_.first(header + length);
    rest_ = rest_.subspan(header + length);
    return element;
}

std::optional<DerElement> DerCursor::next(uint8_t tag) {
    if (rest_.empty() || rest_[0] != tag) {
        return std::nullopt;
    }
    return next();
}

void appendDer(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> content) {
    out.push_back(tag);
    const size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        uint8_t octets[sizeof(size_t)];
        size_t count = 0;
        for (size_t rest = length; rest != 0; rest >>= 8) {
            octets[count++] = static_cast<uint8_t>(rest);
        }
        out.push_back(static_cast<uint8_t>(0x80 | count));
        while (count > 0) {
            out.push_back(octets[--count]);
        }
    }
    out.insert(out.end(), content.begin(), content.end());
}

}  // namespace orvanta
