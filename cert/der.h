#pragma once
// Reading DER one element at a time: the few places where the rows need the bytes of a
// certificate field exactly as the key encoded them, or where a copy has to be rebuilt
// for the library. Only single-octet tags and definite lengths (up to four length
// octets) are read; nothing is ever read past the given bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvanta {

namespace der_tag {
inline constexpr uint8_t BOOLEAN = 0x01;
inline constexpr uint8_t INTEGER = 0x02;
inline constexpr uint8_t BIT_STRING = 0x03;
inline constexpr uint8_t OCTET_STRING = 0x04;
inline constexpr uint8_t OID = 0x06;
inline constexpr uint8_t UTF8_STRING = 0x0C;
inline constexpr uint8_t NUMERIC_STRING = 0x12;
inline constexpr uint8_t PRINTABLE_STRING = 0x13;
inline constexpr uint8_t T61_STRING = 0x14;
inline constexpr uint8_t IA5_STRING = 0x16;
inline constexpr uint8_t VISIBLE_STRING = 0x1A;
inline constexpr uint8_t UNIVERSAL_STRING = 0x1C;
inline constexpr uint8_t BMP_STRING = 0x1E;
inline constexpr uint8_t SEQUENCE = 0x30;
inline constexpr uint8_t SET = 0x31;
inline constexpr uint8_t CONTEXT_0 = 0xA0;  // [0] constructed
}  // namespace der_tag

struct DerElement {
    uint8_t tag = 0;
    std::span<const uint8_t> content;
    std::span<const uint8_t> whole;  // tag, length and content
};

class DerCursor {
  public:
    explicit DerCursor(std::span<const uint8_t> bytes) : rest_(bytes) {}

    // The next element whatever its tag; nothing (and the cursor stays) when no whole
    // element follows.
    std::optional<DerElement> next();
    // The next element when it has `tag`; otherwise nothing and the cursor stays.
    std::optional<DerElement> next(uint8_t tag);
    bool atEnd() const { return rest_.empty(); }
    std::span<const uint8_t> rest() const { return rest_; }

  private:
    std::span<const uint8_t> rest_;
};

// Appends a DER element: tag, the shortest length form, content.
void appendDer(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> content);

}  // namespace orvanta
