#include "ctap/cbor.h"

#include <array>
#include <cstring>
#include <limits>
#include <vector>

namespace orvanta {

namespace {

enum class HeaderStatus { Ok, Truncated, Unsupported };

// Decodes one header (no tag folding) from at most `available` bytes.
HeaderStatus decodeOne(const uint8_t* p, uint32_t available, CborHeader& h) {
    if (p == nullptr || available == 0) {
        return HeaderStatus::Truncated;
    }
    h.majorType = static_cast<uint8_t>(p[0] >> 5);
    h.additionalInfo = static_cast<uint8_t>(p[0] & 0x1F);
    const uint8_t ai = h.additionalInfo;
    uint32_t size = 1;
    if (ai <= 23) {
        h.argument = ai;
    } else if (ai == 31) {
        h.argument = 31;
    } else if (ai >= 27) {
        h.argument = 0;
        h.headerLength = 0;
        return HeaderStatus::Unsupported;
    } else {
        size = 1u + (1u << (ai - 24));  // 24: 2, 25: 3, 26: 5
        if (available < size) {
            return HeaderStatus::Truncated;
        }
        uint32_t value = 0;
        for (uint32_t i = 1; i < size; ++i) {
            value = (value << 8) | p[i];
        }
        h.argument = value;
    }
    h.headerLength = static_cast<uint8_t>(size);
    return HeaderStatus::Ok;
}

// Remaining-item counters of a walk. Indefinite containers use a value that no definite
// count can reach (a map of 2^32 - 1 pairs counts 2^33 - 2 items).
using Counter = uint64_t;
constexpr Counter INDEFINITE = std::numeric_limits<Counter>::max();

// The counters of the enclosing containers. Replies nest a few levels deep, so the first
// levels live inline; only hostile nesting spills to the heap (bounded by the input length,
// since every level costs at least one byte).
class CounterStack {
  public:
    bool empty() const { return size_ == 0; }
    void push(Counter c) {
        if (size_ < inline_.size()) {
            inline_[size_] = c;
        } else {
            spill_.push_back(c);
        }
        ++size_;
    }
    Counter pop() {
        --size_;
        if (size_ < inline_.size()) {
            return inline_[size_];
        }
        Counter c = spill_.back();
        spill_.pop_back();
        return c;
    }

  private:
    std::array<Counter, 16> inline_;
    std::vector<Counter> spill_;
    size_t size_ = 0;
};

// One item header as a walk sees it: any number of tags skipped, the tagged item's header.
struct WalkItem {
    CborHeader header;
    uint32_t length = 0;  // bytes of all tag headers plus the item header
};

// Inlined into the walks: the item then stays in registers instead of being stored and read
// back at once, a stall that cost the walks half their time.
[[gnu::always_inline]] inline HeaderStatus decodeWalkItem(const uint8_t* data, uint32_t length,
                                                          uint32_t pos, WalkItem& item) {
    // Most items are a one-byte header without a tag.
    if (pos < length && (data[pos] & 0x1F) <= 23 && (data[pos] >> 5) != 6) {
        const uint8_t ai = static_cast<uint8_t>(data[pos] & 0x1F);
        item.header = CborHeader{255, static_cast<uint8_t>(data[pos] >> 5), ai, 1, ai};
        item.length = 1;
        return HeaderStatus::Ok;
    }
    uint32_t start = pos;
    for (;;) {
        CborHeader h;
        HeaderStatus s = decodeOne(data + pos, length - pos, h);
        if (s != HeaderStatus::Ok) {
            return s;
        }
        // An indefinite argument is only meaningful for strings, containers and break.
        if (h.additionalInfo == 31 && (h.majorType == 0 || h.majorType == 1 || h.majorType == 6)) {
            return HeaderStatus::Unsupported;
        }
        pos += h.headerLength;
        if (h.majorType != 6) {
            item.header = h;
            item.length = pos - start;
            return HeaderStatus::Ok;
        }
        if (pos >= length) {
            return HeaderStatus::Truncated;
        }
    }
}

enum class WalkEnd {
    Closed,       // the container completed; pos is the byte after it
    Stopped,      // the visitor asked to stop; pos is the start of the visited item
    Truncated,    // the span ended first
    Unsupported,  // an 8-byte, reserved or misplaced header; pos is its start
};

// Walks the content of a container whose header ends at pos, with `counter` items (keys and
// values for a map) or INDEFINITE. visit(item, pos, index) is called for every item directly
// inside the container (index from 0) before it is skipped; returning true stops the walk.
template <class Visit>
WalkEnd walkContainer(CborSpan span, uint32_t& pos, Counter counter, Visit&& visit) {
    const uint8_t* data = span.data;
    const uint32_t length = span.length;
    CounterStack stack;
    uint64_t directIndex = 0;
    for (;;) {
        if (pos >= length) {
            return WalkEnd::Truncated;
        }
        WalkItem item;
        HeaderStatus s = decodeWalkItem(data, length, pos, item);
        if (s == HeaderStatus::Truncated) {
            return WalkEnd::Truncated;
        }
        if (s == HeaderStatus::Unsupported) {
            return WalkEnd::Unsupported;
        }
        const CborHeader& h = item.header;
        // A break (major type 7, additional information 31) is the initial byte 0xFF; read
        // from the input, the test does not wait on the header just stored.
        if (data[pos + item.length - h.headerLength] == 0xFF) {
            // A break closes one indefinite container; anywhere else it is malformed.
            if (counter != INDEFINITE) {
                return WalkEnd::Unsupported;
            }
            pos += item.length;
            if (stack.empty()) {
                return WalkEnd::Closed;
            }
            counter = stack.pop();
        } else {
            if (stack.empty()) {
                if (visit(item, pos, directIndex)) {
                    return WalkEnd::Stopped;
                }
                ++directIndex;
            }
            if (counter != INDEFINITE) {
                --counter;
            }
            pos += item.length;
            if (h.majorType == 4 || h.majorType == 5 ||
                ((h.majorType == 2 || h.majorType == 3) && h.additionalInfo == 31)) {
                if (h.additionalInfo == 31) {
                    stack.push(counter);
                    counter = INDEFINITE;
                } else if (h.argument != 0) {
                    stack.push(counter);
                    counter = h.majorType == 5 ? Counter{h.argument} * 2 : Counter{h.argument};
                }
            } else if (h.majorType == 2 || h.majorType == 3) {
                if (h.argument > length - pos) {
                    pos = length;
                    return WalkEnd::Truncated;
                }
                pos += h.argument;
            }
        }
        while (counter == 0) {
            if (stack.empty()) {
                return WalkEnd::Closed;
            }
            counter = stack.pop();
        }
    }
}

// Reads the container header at the start of the span for a lookup. False when the span
// does not start with a non-empty container of the given major type.
bool openContainer(CborSpan span, uint8_t majorType, uint32_t& pos, Counter& counter) {
    if (!span.found()) {
        return false;
    }
    WalkItem item;
    if (decodeWalkItem(span.data, span.length, 0, item) != HeaderStatus::Ok ||
        item.header.majorType != majorType) {
        return false;
    }
    const CborHeader& h = item.header;
    if (h.additionalInfo == 31) {
        counter = INDEFINITE;
    } else {
        counter = majorType == 5 ? Counter{h.argument} * 2 : Counter{h.argument};
    }
    pos = item.length;
    return counter != 0;
}

CborSpan spanFrom(CborSpan span, uint32_t pos) {
    if (pos >= span.length) {
        return {};
    }
    return {span.data + pos, span.length - pos};
}

// Walks the items of the container opened at pos and stops at the first one `pick` takes:
// the span from the position it names, or empty when it takes none.
// pick(item, its position, its index, out: the position of the span to return).
template <class Pick>
CborSpan pickFromContainer(CborSpan span, uint32_t pos, Counter counter, Pick&& pick) {
    uint32_t picked = 0;
    auto visit = [&](const WalkItem& item, uint32_t itemPos, uint64_t index) {
        return pick(item, itemPos, index, picked);
    };
    if (walkContainer(span, pos, counter, visit) != WalkEnd::Stopped) {
        return {};
    }
    return spanFrom(span, picked);
}

// Finds the value of the first key that `matches` in the map at the start of the span.
// matches(key item, position after the key's header, out: position of the value).
template <class Match>
CborSpan mapFind(CborSpan span, Match&& matches) {
    uint32_t pos = 0;
    Counter counter = 0;
    if (!openContainer(span, 5, pos, counter)) {
        return {};
    }
    // Keys stand at the even indices.
    return pickFromContainer(
        span, pos, counter,
        [&](const WalkItem& item, uint32_t itemPos, uint64_t index, uint32_t& valuePos) {
            return index % 2 == 0 && matches(item, itemPos + item.length, valuePos);
        });
}

bool readString(CborSpan span, uint8_t majorType, const uint8_t** content, uint32_t* length) {
    CborHeader h = readHeader(span);
    if (h.headerLength == 0 || h.majorType != majorType || h.additionalInfo == 31 ||
        h.argument > span.length - h.headerLength) {
        return false;
    }
    *content = span.data + h.headerLength;
    *length = h.argument;
    return true;
}

uint32_t remaining(const CborWriter& w) {
    return w.capacity > w.length ? w.capacity - w.length : 0;
}

uint32_t headerSize(uint32_t argument) {
    if (argument <= 23) {
        return 1;
    }
    if (argument <= 0xFF) {
        return 2;
    }
    if (argument <= 0xFFFF) {
        return 3;
    }
    return 5;
}

void writeHeader(uint8_t* out, uint8_t majorType, uint32_t argument, uint32_t size) {
    const uint8_t mt = static_cast<uint8_t>(majorType << 5);
    switch (size) {
        case 1:
            out[0] = static_cast<uint8_t>(mt | argument);
            return;
        case 2:
            out[0] = mt | 24;
            break;
        case 3:
            out[0] = mt | 25;
            break;
        default:
            out[0] = mt | 26;
            break;
    }
    for (uint32_t i = 1; i < size; ++i) {
        out[i] = static_cast<uint8_t>(argument >> (8 * (size - 1 - i)));
    }
}

// Writes a header and optional content as one unit, or nothing (setting failed).
CborWriter& putItem(CborWriter& w, uint8_t majorType, uint32_t argument, const uint8_t* content,
                    uint32_t contentLength) {
    const uint32_t size = headerSize(argument);
    if (w.buffer == nullptr || remaining(w) < size ||
        (content != nullptr && remaining(w) - size < contentLength)) {
        w.failed = true;
        return w;
    }
    writeHeader(w.buffer + w.length, majorType & 7, argument, size);
    w.length += size;
    if (content != nullptr && contentLength != 0) {
        std::memcpy(w.buffer + w.length, content, contentLength);
        w.length += contentLength;
    }
    return w;
}

}  // namespace

CborHeader readHeader(CborSpan span) {
    CborHeader h;
    if (!span.found()) {
        return h;
    }
    CborHeader first;
    HeaderStatus s = decodeOne(span.data, span.length, first);
    if (s == HeaderStatus::Truncated) {
        return CborHeader{};
    }
    if (s == HeaderStatus::Unsupported || first.majorType != 6) {
        return first;
    }
    // One tag is folded into the item it tags.
    CborHeader inner;
    s = decodeOne(span.data + first.headerLength, span.length - first.headerLength, inner);
    if (s == HeaderStatus::Truncated) {
        return CborHeader{};
    }
    inner.tag = first.argument;
    if (s == HeaderStatus::Ok) {
        inner.headerLength = static_cast<uint8_t>(inner.headerLength + first.headerLength);
    }
    return inner;
}

uint32_t itemLength(CborSpan span) {
    if (!span.found()) {
        return 0;
    }
    WalkItem item;
    HeaderStatus s = decodeWalkItem(span.data, span.length, 0, item);
    if (s == HeaderStatus::Truncated) {
        return span.length;
    }
    if (s == HeaderStatus::Unsupported) {
        return 0;
    }
    const CborHeader& h = item.header;
    const bool indefinite = h.additionalInfo == 31;
    if ((h.majorType == 2 || h.majorType == 3) && !indefinite) {
        const uint64_t total = uint64_t{item.length} + h.argument;
        return total < span.length ? static_cast<uint32_t>(total) : span.length;
    }
    if (!(h.majorType == 4 || h.majorType == 5 || h.majorType == 2 || h.majorType == 3)) {
        return item.length;
    }
    Counter counter = indefinite         ? INDEFINITE
                      : h.majorType == 5 ? Counter{h.argument} * 2
                                         : Counter{h.argument};
    if (counter == 0) {
        return item.length;
    }
    uint32_t pos = item.length;
    auto none = [](const WalkItem&, uint32_t, uint64_t) { return false; };
    switch (walkContainer(span, pos, counter, none)) {
        case WalkEnd::Truncated:
            return span.length;
        default:
            return pos;
    }
}

CborSpan mapFindInt(CborSpan span, int32_t key) {
    // The key is its header alone; the value follows it.
    return mapFind(span, [&](const WalkItem& item, uint32_t content, uint32_t& after) {
        const CborHeader& h = item.header;
        after = content;
        return (h.majorType == 0 && key >= 0 && h.argument == static_cast<uint32_t>(key)) ||
               (h.majorType == 1 && -1 - int64_t{h.argument} == key);
    });
}

CborSpan mapFindText(CborSpan span, const char* key, uint32_t keyLength) {
    if (key == nullptr) {
        return {};
    }
    return mapFind(span, [&](const WalkItem& item, uint32_t content, uint32_t& after) {
        const CborHeader& h = item.header;
        if (h.majorType != 3 || h.additionalInfo == 31 || h.argument != keyLength) {
            return false;
        }
        if (keyLength > span.length - content ||
            std::memcmp(span.data + content, key, keyLength) != 0) {
            return false;
        }
        after = content + keyLength;
        return true;
    });
}

CborSpan arrayAt(CborSpan span, int32_t index) {
    uint32_t pos = 0;
    Counter counter = 0;
    if (index < 0 || !openContainer(span, 4, pos, counter) ||
        (counter != INDEFINITE && counter <= static_cast<Counter>(index))) {
        return {};
    }
    return pickFromContainer(span, pos, counter,
                             [index](const WalkItem&, uint32_t itemPos, uint64_t i, uint32_t& at) {
                                 at = itemPos;
                                 return i == static_cast<uint64_t>(index);
                             });
}

uint32_t forEachItem(CborSpan span, uint8_t majorType, CborItemVisitor visit, void* context) {
    uint32_t pos = 0;
    Counter counter = 0;
    if ((majorType != 4 && majorType != 5) || visit == nullptr ||
        !openContainer(span, majorType, pos, counter)) {
        return 0;
    }
    uint32_t visited = 0;
    auto each = [&](const WalkItem& item, uint32_t itemPos, uint64_t) {
        ++visited;
        // A copy for the visitor, so the walk's own header can stay in registers.
        const CborHeader header = item.header;
        return !visit(context, CborSpan{span.data + itemPos, span.length - itemPos}, header);
    };
    walkContainer(span, pos, counter, each);
    return visited;
}

bool readByteString(CborSpan span, const uint8_t** content, uint32_t* length) {
    return readString(span, 2, content, length);
}

bool readTextString(CborSpan span, std::string_view* text) {
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    if (!readString(span, 3, &content, &length)) {
        return false;
    }
    *text = std::string_view(reinterpret_cast<const char*>(content), length);
    return true;
}

uint32_t putHeader(CborWriter& writer, uint8_t majorType, uint32_t argument) {
    const uint32_t before = writer.length;
    putItem(writer, majorType, argument, nullptr, 0);
    return writer.length - before;
}

CborWriter& putUnsigned(CborWriter& writer, uint32_t n) {
    return putItem(writer, 0, n, nullptr, 0);
}

CborWriter& putNegative(CborWriter& writer, int32_t n) {
    if (n >= 0) {
        writer.failed = true;
        return writer;
    }
    return putItem(writer, 1, static_cast<uint32_t>(-1 - int64_t{n}), nullptr, 0);
}

CborWriter& putBytes(CborWriter& writer, const uint8_t* data, uint32_t n) {
    return putItem(writer, 2, n, data, n);
}

CborWriter& putText(CborWriter& writer, std::string_view text) {
    if (text.size() > std::numeric_limits<uint32_t>::max()) {
        writer.failed = true;
        return writer;
    }
    const auto n = static_cast<uint32_t>(text.size());
    // A non-null pointer even for empty text, so the content is part of the unit.
    const auto* content = reinterpret_cast<const uint8_t*>(text.empty() ? "" : text.data());
    return putItem(writer, 3, n, content, n);
}

CborWriter& putBool(CborWriter& writer, bool value) {
    return putItem(writer, 7, value ? 21 : 20, nullptr, 0);
}

CborWriter& beginArray(CborWriter& writer, uint32_t count) {
    return putItem(writer, 4, count, nullptr, 0);
}

CborWriter& beginMap(CborWriter& writer, uint32_t count) {
    return putItem(writer, 5, count, nullptr, 0);
}

uint32_t CborBase::encode(uint8_t* buffer, uint32_t capacity) const {
    if (buffer == nullptr) {
        return 0;
    }
    CborWriter w{buffer, 0, capacity, false};
    if (tag != 255) {
        putHeader(w, 6, tag);
    }
    if (w.length < capacity) {
        buffer[w.length] = static_cast<uint8_t>((majorType << 5) | (additionalInfo & 0x1F));
        return w.length + 1;
    }
    return w.length;
}

void CborBase::print(std::FILE* out) const {
    if (out == nullptr) {
        return;
    }
    if (tag != 255) {
        std::fprintf(out, "(%lu) ", static_cast<unsigned long>(tag));
    }
    std::fputs("null\r\n", out);
}

const CborBase& CborBase::nullItem() {
    static const CborBase item;
    return item;
}

}  // namespace orvanta
