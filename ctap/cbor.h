#pragma once
// A small CBOR (RFC 8949) codec that works on byte buffers: requests are written field by
// field into a caller-owned buffer, replies are read in place by lookups that return views
// into the received bytes. No walk ever reads past the bytes it was given.

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <type_traits>

namespace orvanta {

// Remaining-item counter of an indefinite-length container or string during a walk.
inline constexpr uint32_t INDEFINITE_COUNT = 0x7EEEEEEE;

// A view from an item to the end of the received bytes; "not found" is data null, length 0.
struct CborSpan {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    bool found() const { return data != nullptr; }
};

// One decoded item header. The defaults are the null item of no bytes.
struct CborHeader {
    uint32_t tag = 255;  // 255: no tag
    uint8_t majorType = 7;
    uint8_t additionalInfo = 22;
    uint8_t headerLength = 0;  // tag header included
    uint32_t argument = 0;     // value, length or count; 31 for indefinite items and break
};

// Reads the header at the start of the span. A span that is not found, or a header that
// runs past its end, reads as the null item. 8-byte arguments (27) and the reserved values
// 28 to 30 give argument 0 and header length 0.
CborHeader readHeader(CborSpan span);

// Bytes of the first complete item of the span, or the position reached when the span
// ends first (never more than span.length).
uint32_t itemLength(CborSpan span);

// Value under an integer key of the map at the start of the span.
CborSpan mapFindInt(CborSpan span, int32_t key);
// Value under a text key of the map at the start of the span. A null key finds nothing.
CborSpan mapFindText(CborSpan span, const char* key, uint32_t keyLength);
inline CborSpan mapFindText(CborSpan span, std::string_view key) {
    return mapFindText(span, key.data(), static_cast<uint32_t>(key.size()));
}
// Element index (from 0) of the array at the start of the span.
CborSpan arrayAt(CborSpan span, int32_t index);

// Visits the items directly inside the array (majorType 4) or map (5) at the start of the
// span, in order (a map gives key, value, key, value, ...), in one walk. Each item is the
// span from its first byte (tags included) to the end of the received bytes, as
// arrayAt(span, index) gives it; header is the item's own header after any tags. The walk
// meets exactly the items a lookup's walk meets: it ends with the container, or where a
// header runs past the received bytes or is not supported. visit returns false to stop.
// Returns the number of items visited.
using CborItemVisitor = bool (*)(void* context, CborSpan item, const CborHeader& header);
uint32_t forEachItem(CborSpan span, uint8_t majorType, CborItemVisitor visit, void* context);
template <class Visit>
uint32_t forEachItem(CborSpan span, uint8_t majorType, Visit&& visit) {
    using V = std::remove_reference_t<Visit>;
    return forEachItem(
        span, majorType,
        [](void* context, CborSpan item, const CborHeader& header) {
            return (*static_cast<V*>(context))(item, header);
        },
        const_cast<void*>(static_cast<const void*>(&visit)));
}

// Content of the byte string at the start of the span. False (outputs untouched) when the
// item is not a definite byte string or its content runs past the span.
bool readByteString(CborSpan span, const uint8_t** content, uint32_t* length);
// The same for a text string.
bool readTextString(CborSpan span, std::string_view* text);

// A caller-owned output buffer. Every put writes its whole item or nothing; a put that
// does not fit sets `failed`, so a caller can refuse to send a truncated request.
struct CborWriter {
    uint8_t* buffer = nullptr;  // null makes every write a no-op
    uint32_t length = 0;
    uint32_t capacity = 0;
    bool failed = false;
};

// Writes the shortest header form; returns the bytes written (0, 1, 2, 3 or 5).
uint32_t putHeader(CborWriter& writer, uint8_t majorType, uint32_t argument);
CborWriter& putUnsigned(CborWriter& writer, uint32_t n);
CborWriter& putNegative(CborWriter& writer, int32_t n);  // n < 0; -7 is 0x26
CborWriter& putBytes(CborWriter& writer, const uint8_t* data, uint32_t n);
CborWriter& putText(CborWriter& writer, std::string_view text);
CborWriter& putBool(CborWriter& writer, bool value);
CborWriter& beginArray(CborWriter& writer, uint32_t count);
CborWriter& beginMap(CborWriter& writer, uint32_t count);

// Base of the CBOR value model; its one instance is the shared null item.
class CborBase {
  public:
    CborBase() = default;
    CborBase(uint8_t major, uint8_t info, uint32_t itemTag)
        : majorType(major), additionalInfo(info), tag(itemTag) {}
    virtual ~CborBase() = default;
    // Writes the tag header (when set) and the initial byte; returns the bytes written.
    virtual uint32_t encode(uint8_t* buffer, uint32_t capacity) const;
    virtual uint32_t count() const { return 0; }
    virtual uint32_t size() const { return 0; }
    virtual const CborBase& at(int32_t) const { return nullItem(); }
    virtual const CborBase& find(int32_t) const { return nullItem(); }
    virtual const CborBase& find(std::string_view) const { return nullItem(); }
    virtual void print(std::FILE* out) const;

    static const CborBase& nullItem();

    uint8_t majorType = 7;
    uint8_t additionalInfo = 22;
    uint32_t tag = 255;
};

}  // namespace orvanta
