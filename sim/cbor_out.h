#pragma once
// An owned output buffer for the project's CBOR writer, for building replies.

#include <cstdint>
#include <string_view>
#include <vector>

#include "ctap/cbor.h"

namespace orvanta {

class CborOut {
  public:
    explicit CborOut(uint32_t capacity = 8192) : buffer_(capacity) {
        w.buffer = buffer_.data();
        w.capacity = capacity;
    }
    CborOut(const CborOut&) = delete;
    CborOut& operator=(const CborOut&) = delete;

    // The CTAP reply: status byte followed by what was written.
    std::vector<uint8_t> reply(uint8_t status = 0) const {
        std::vector<uint8_t> out;
        out.reserve(w.length + 1);
        out.push_back(status);
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + w.length);
        return out;
    }
    std::vector<uint8_t> bytes() const {
        return std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + w.length);
    }
    // Writes a signed integer in its CBOR major type.
    CborOut& integer(int32_t n) {
        if (n < 0) {
            putNegative(w, n);
        } else {
            putUnsigned(w, static_cast<uint32_t>(n));
        }
        return *this;
    }
    CborOut& bytes(const std::vector<uint8_t>& b) {
        putBytes(w, b.data(), static_cast<uint32_t>(b.size()));
        return *this;
    }
    CborOut& text(std::string_view t) {
        putText(w, t);
        return *this;
    }

    CborWriter w;

  private:
    std::vector<uint8_t> buffer_;
};

}  // namespace orvanta
