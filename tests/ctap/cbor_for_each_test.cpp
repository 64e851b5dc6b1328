// The one-walk visit of a container's items against the lookups it stands in for: on real
// replies and on every truncation and byte change of them, it meets exactly the items
// that arrayAt finds by index, and the values mapFindInt finds by key.

#include <gtest/gtest.h>

#include <vector>

#include "ctap/cbor.h"
#include "sim/get_info.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<CborSpan> visitAll(CborSpan span, uint8_t majorType,
                               std::vector<CborHeader>* headers = nullptr) {
    std::vector<CborSpan> items;
    const uint32_t n = forEachItem(span, majorType, [&](CborSpan item, const CborHeader& h) {
        items.push_back(item);
        if (headers != nullptr) {
            headers->push_back(h);
        }
        return true;
    });
    EXPECT_EQ(n, items.size());
    return items;
}

// Compares the visit of the array or map at the start of `bytes` with the lookups.
void expectSameAsLookups(const Bytes& bytes) {
    CborSpan span{bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size())};
    const std::vector<CborSpan> elements = visitAll(span, 4);
    for (size_t i = 0; i <= elements.size(); ++i) {
        CborSpan found = arrayAt(span, static_cast<int32_t>(i));
        if (i < elements.size()) {
            ASSERT_EQ(found.data, elements[i].data) << "element " << i;
            ASSERT_EQ(found.length, elements[i].length);
        } else {
            ASSERT_FALSE(found.found()) << "an element beyond the visit";
        }
    }
    std::vector<CborHeader> headers;
    const std::vector<CborSpan> items = visitAll(span, 5, &headers);
    // The value after the first key visited with each small integer (tags skipped) is the
    // one mapFindInt finds.
    for (int32_t key = 0; key < 24; ++key) {
        CborSpan expected;
        bool keyMet = false;
        for (size_t i = 0; i < items.size(); i += 2) {
            const CborHeader& h = headers[i];
            if (h.majorType == 0 && h.argument == static_cast<uint32_t>(key)) {
                keyMet = true;
                if (i + 1 < items.size()) {
                    expected = items[i + 1];
                }
                break;
            }
        }
        CborSpan found = mapFindInt(span, key);
        if (expected.found()) {
            ASSERT_EQ(found.data, expected.data) << "key " << key;
        } else if (found.found()) {
            // Found by the lookup but its value never met by the walk: the last key met, with
            // a value whose header does not decode or is a misplaced break.
            ASSERT_TRUE(keyMet) << "key " << key;
            const CborHeader value = readHeader(found);
            ASSERT_TRUE(value.headerLength == 0 || value.additionalInfo == 31 ||
                        value.additionalInfo >= 27)
                << "key " << key;
        }
    }
}

Bytes fullGetInfo() {
    Bytes reply = buildGetInfo(profileByName("full"), true);
    return Bytes(reply.begin() + 1, reply.end());
}

TEST(CborForEachItem, VisitsTheMembersOfARealReplyInOrder) {
    const Bytes reply = fullGetInfo();
    CborSpan span{reply.data(), static_cast<uint32_t>(reply.size())};
    const std::vector<CborSpan> items = visitAll(span, 5);
    ASSERT_EQ(items.size(), 62u);  // 31 keys and their values
    for (size_t i = 0; i < items.size(); i += 2) {
        EXPECT_EQ(readHeader(items[i]).argument, i / 2 + 1);
    }
    // An array visit of a map, or a map visit of an array, finds nothing.
    EXPECT_TRUE(visitAll(span, 4).empty());
    EXPECT_TRUE(visitAll(mapFindInt(span, 1), 5).empty());
    EXPECT_EQ(visitAll(mapFindInt(span, 1), 4).size(), 4u);  // the four versions
    // Other major types and null spans visit nothing.
    EXPECT_TRUE(visitAll(span, 3).empty());
    EXPECT_TRUE(visitAll(CborSpan{}, 5).empty());
}

TEST(CborForEachItem, StopsWhenTheVisitorSaysSo) {
    const Bytes reply = fullGetInfo();
    CborSpan span{reply.data(), static_cast<uint32_t>(reply.size())};
    int calls = 0;
    EXPECT_EQ(forEachItem(span, 5, [&](CborSpan, const CborHeader&) { return ++calls < 3; }), 3u);
    EXPECT_EQ(calls, 3);
}

TEST(CborForEachItem, HeaderIsTheItemsOwnAfterTags) {
    // [tag 24 (tag 1 (5)), "ab"]
    const Bytes bytes = {0x82, 0xD8, 0x18, 0xC1, 0x05, 0x62, 'a', 'b'};
    std::vector<CborHeader> headers;
    forEachItem(CborSpan{bytes.data(), static_cast<uint32_t>(bytes.size())}, 4,
                [&](CborSpan, const CborHeader& h) {
                    headers.push_back(h);
                    return true;
                });
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[0].majorType, 0);
    EXPECT_EQ(headers[0].argument, 5u);
    EXPECT_EQ(headers[1].majorType, 3);
    EXPECT_EQ(headers[1].argument, 2u);
}

TEST(CborForEachItem, MeetsWhatTheLookupsFindOnEveryTruncation) {
    const Bytes reply = fullGetInfo();
    for (size_t n = 0; n <= reply.size(); ++n) {
        expectSameAsLookups(Bytes(reply.begin(), reply.begin() + n));
    }
    // The algorithms array of the reply, cut everywhere.
    CborSpan span{reply.data(), static_cast<uint32_t>(reply.size())};
    CborSpan algorithms = mapFindInt(span, 10);
    const Bytes array(algorithms.data, algorithms.data + itemLength(algorithms));
    for (size_t n = 0; n <= array.size(); ++n) {
        expectSameAsLookups(Bytes(array.begin(), array.begin() + n));
    }
}

TEST(CborForEachItem, MeetsWhatTheLookupsFindWhateverByteChanges) {
    const Bytes reply = fullGetInfo();
    // Every byte set to values that change its meaning most: breaks, indefinite and
    // oversized headers, tags, reserved values.
    for (uint8_t value : {0x00, 0x18, 0x1B, 0x1C, 0x1F, 0x5F, 0x7F, 0x9F, 0xBF, 0xC1, 0xFF}) {
        for (size_t at = 0; at < reply.size(); ++at) {
            Bytes changed = reply;
            changed[at] = value;
            expectSameAsLookups(changed);
        }
    }
}

}  // namespace
}  // namespace orvanta
