// The CBOR lookups on arbitrary bytes: every walk and read must stay inside the input, and
// every span a lookup returns must lie inside the span it was given.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ctap/cbor.h"

using namespace orvanta;

namespace {

void checkInside(CborSpan outer, CborSpan inner) {
    if (!inner.found()) {
        if (inner.length != 0) {
            std::abort();
        }
        return;
    }
    if (inner.data < outer.data || inner.data + inner.length != outer.data + outer.length) {
        std::abort();  // a returned span always runs to the end of the received bytes
    }
}

void lookups(CborSpan span, int depth) {
    if (depth > 3 || !span.found()) {
        return;
    }
    const uint32_t length = itemLength(span);
    if (length > span.length) {
        std::abort();
    }
    CborHeader h = readHeader(span);
    if (h.headerLength > span.length) {
        std::abort();
    }
    const uint8_t* content = nullptr;
    uint32_t contentLength = 0;
    if (readByteString(span, &content, &contentLength)) {
        if (content < span.data || content + contentLength > span.data + span.length) {
            std::abort();
        }
        volatile uint8_t sink = 0;
        for (uint32_t i = 0; i < contentLength; ++i) {
            sink = sink ^ content[i];
        }
    }
    std::string_view text;
    if (readTextString(span, &text)) {
        if (reinterpret_cast<const uint8_t*>(text.data()) + text.size() > span.data + span.length) {
            std::abort();
        }
    }
    for (int32_t key : {-3, -2, -1, 0, 1, 2, 3, 4, 10, 21}) {
        CborSpan v = mapFindInt(span, key);
        checkInside(span, v);
        lookups(v, depth + 1);
    }
    for (const char* key : {"alg", "type", "x5c", "sig", "clientPin", "FIDO"}) {
        CborSpan v = mapFindText(span, key);
        checkInside(span, v);
        lookups(v, depth + 1);
    }
    for (int32_t index : {0, 1, 2, 7}) {
        CborSpan v = arrayAt(span, index);
        checkInside(span, v);
        lookups(v, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    // A private copy, so the sanitizer sees any read one byte past the end.
    std::vector<uint8_t> bytes(data, data + size);
    CborSpan span{bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size())};
    lookups(span, 0);
    return 0;
}
