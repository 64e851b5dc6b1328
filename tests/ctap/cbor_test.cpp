#include "ctap/cbor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ctap/cbor_diagnostic.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

CborSpan spanOf(const Bytes& b) {
    return {b.data(), static_cast<uint32_t>(b.size())};
}

// Offset of a found view inside the bytes it was taken from; -1 when not found.
long offsetIn(const Bytes& b, CborSpan s) {
    return s.found() ? s.data - b.data() : -1;
}

std::string textAt(CborSpan s) {
    std::string_view text;
    return readTextString(s, &text) ? std::string(text) : std::string("<none>");
}

// RFC 8949 appendix A examples and what a hostile member can do.
TEST(CborDiagnostic, PublishedExamplesAndBoundedOutput) {
    const std::vector<std::pair<Bytes, std::string>> examples = {
        {{0x1B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "18446744073709551615"},
        {{0x3B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-18446744073709551616"},
        {{0x38, 0x63}, "-100"},
        {{0xF9, 0x7C, 0x00}, "Infinity"},
        {{0xFB, 0x3F, 0xF1, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, "1.1"},
        {{0xFA, 0x47, 0xC3, 0x50, 0x00}, "100000.0"},
        {{0xF0}, "simple(16)"},
        {{0xF6}, "null"},
        {{0xC1, 0x1A, 0x51, 0x4B, 0x67, 0xB0}, "1(1363896240)"},
        {{0x44, 0x01, 0x02, 0x03, 0x04}, "h'01020304'"},
        {{0x62, 0x22, 0x5C}, "\"\\\"\\\\\""},
        {{0x62, 0xC3, 0xBC}, "\"\xC3\xBC\""},
        {{0x83, 0x01, 0x82, 0x02, 0x03, 0x82, 0x04, 0x05}, "[1, [2, 3], [4, 5]]"},
        {{0xA2, 0x61, 0x61, 0x01, 0x61, 0x62, 0x82, 0x02, 0x03}, "{\"a\": 1, \"b\": [2, 3]}"},
        {{0x9F, 0x01, 0x82, 0x02, 0x03, 0xFF}, "[_ 1, [2, 3]]"},
        {{0x5F, 0x42, 0x01, 0x02, 0x43, 0x03, 0x04, 0x05, 0xFF}, "(_ h'0102', h'030405')"},
        {{0x61, 0x1B}, "\"\\u001b\""},  // no escape sequence reaches a terminal
    };
    for (const auto& [bytes, text] : examples) {
        EXPECT_EQ(cborDiagnostic(bytes, 100), text);
    }
    // Cut, truncated, nested too deep, a lone break: bounded, ending in "...".
    EXPECT_EQ(cborDiagnostic(Bytes{0x83, 0x01, 0x02, 0x03}, 5), "[1...");
    EXPECT_EQ(cborDiagnostic(Bytes{0x83, 0x01, 0x02}, 100), "[1, 2, ...");
    EXPECT_EQ(cborDiagnostic(Bytes{0x5A, 0xFF, 0xFF, 0xFF, 0xFF}, 100), "...");
    const Bytes deep(1000, 0x81);
    EXPECT_EQ(cborDiagnostic(deep, 100), std::string(17, '[') + "...");
    EXPECT_EQ(cborDiagnostic(Bytes{0xFF}, 100), "...");
    EXPECT_EQ(cborDiagnostic(Bytes(100000, 0x9F), 50).size(), 50u);
}

TEST(CborReadHeader, ArgumentForms) {
    Bytes b1{0x18, 0x64};
    CborHeader h = readHeader(spanOf(b1));
    EXPECT_EQ(h.majorType, 0);
    EXPECT_EQ(h.argument, 100u);
    EXPECT_EQ(h.headerLength, 2);

    Bytes b2{0x1A, 0x00, 0x01, 0x00, 0x00};
    h = readHeader(spanOf(b2));
    EXPECT_EQ(h.argument, 65536u);
    EXPECT_EQ(h.headerLength, 5);

    Bytes b3{0x39, 0x01, 0x00};  // -257
    h = readHeader(spanOf(b3));
    EXPECT_EQ(h.majorType, 1);
    EXPECT_EQ(h.argument, 256u);
    EXPECT_EQ(h.headerLength, 3);

    Bytes b4{0x20};
    h = readHeader(spanOf(b4));
    EXPECT_EQ(h.majorType, 1);
    EXPECT_EQ(h.argument, 0u);

    Bytes b5{0xF5};
    h = readHeader(spanOf(b5));
    EXPECT_EQ(h.majorType, 7);
    EXPECT_EQ(h.additionalInfo, 21);
    EXPECT_EQ(h.argument, 21u);
    EXPECT_EQ(h.tag, 255u);

    Bytes b6{0x9F};
    h = readHeader(spanOf(b6));
    EXPECT_EQ(h.majorType, 4);
    EXPECT_EQ(h.argument, 31u);
    EXPECT_EQ(h.headerLength, 1);
}

TEST(CborReadHeader, TagsFoldOneLevel) {
    Bytes tagged{0xC2, 0x41, 0x01};
    CborHeader h = readHeader(spanOf(tagged));
    EXPECT_EQ(h.tag, 2u);
    EXPECT_EQ(h.majorType, 2);
    EXPECT_EQ(h.argument, 1u);
    EXPECT_EQ(h.headerLength, 2);

    Bytes twoTags{0xD8, 0x20, 0xC1, 0x00};
    h = readHeader(spanOf(twoTags));
    EXPECT_EQ(h.tag, 32u);
    EXPECT_EQ(h.majorType, 6);
    EXPECT_EQ(h.argument, 1u);
    EXPECT_EQ(h.headerLength, 3);
}

TEST(CborReadHeader, NullTruncatedAndUnsupportedHeaders) {
    auto isNullItem = [](const CborHeader& h) {
        return h.tag == 255 && h.majorType == 7 && h.additionalInfo == 22 && h.headerLength == 0 &&
               h.argument == 0;
    };
    EXPECT_TRUE(isNullItem(readHeader(CborSpan{})));
    Bytes one{0x01};
    EXPECT_TRUE(isNullItem(readHeader(CborSpan{one.data(), 0})));
    Bytes cut2{0x19, 0x01};  // needs 3 bytes
    EXPECT_TRUE(isNullItem(readHeader(spanOf(cut2))));
    Bytes cut4{0x1A, 0x01, 0x02, 0x03};
    EXPECT_TRUE(isNullItem(readHeader(spanOf(cut4))));
    Bytes tagAlone{0xC2};
    EXPECT_TRUE(isNullItem(readHeader(spanOf(tagAlone))));
    // The header fits only when the span is long enough, whatever lies beyond it.
    Bytes full{0x19, 0x01, 0x00};
    EXPECT_TRUE(isNullItem(readHeader(CborSpan{full.data(), 2})));
    EXPECT_EQ(readHeader(CborSpan{full.data(), 3}).argument, 256u);

    for (uint8_t ai = 27; ai <= 30; ++ai) {
        Bytes b{static_cast<uint8_t>(0x00 | ai), 0, 0, 0, 0, 0, 0, 0, 1};
        CborHeader h = readHeader(spanOf(b));
        EXPECT_EQ(h.majorType, 0);
        EXPECT_EQ(h.additionalInfo, ai);
        EXPECT_EQ(h.argument, 0u);
        EXPECT_EQ(h.headerLength, 0);
    }
    Bytes taggedLong{0xC1, 0x1B, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(readHeader(spanOf(taggedLong)).headerLength, 0);
}

TEST(CborWriter, ShortestHeaderForms) {
    uint8_t buf[16] = {};
    CborWriter w{buf, 0, 16};
    EXPECT_EQ(putHeader(w, 0, 23), 1u);
    EXPECT_EQ(putHeader(w, 0, 24), 2u);
    EXPECT_EQ(putHeader(w, 2, 256), 3u);
    EXPECT_EQ(putHeader(w, 5, 65536), 5u);
    EXPECT_EQ(putHeader(w, 1, 0xFFFFFFFF), 5u);
    Bytes expected{0x17, 0x18, 0x18, 0x59, 0x01, 0x00, 0xBA, 0x00,
                   0x01, 0x00, 0x00, 0x3A, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(buf, buf + w.length), expected);
    EXPECT_FALSE(w.failed);
}

TEST(CborWriter, ValuesAndChaining) {
    uint8_t buf[64] = {};
    CborWriter w{buf, 0, 64};
    const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    beginMap(w, 3);
    putUnsigned(w, 1);
    putNegative(w, -7);
    putNegative(putUnsigned(w, 2), -256);
    putText(w, "rk");
    beginArray(w, 2);
    putBool(putBool(w, true), false);
    putBytes(w, data, 3);
    putBytes(w, nullptr, 5);  // header alone
    putText(w, "");
    Bytes expected{0xA3, 0x01, 0x26, 0x02, 0x38, 0xFF, 0x62, 'r',  'k',
                   0x82, 0xF5, 0xF4, 0x43, 0xAA, 0xBB, 0xCC, 0x45, 0x60};
    EXPECT_EQ(Bytes(buf, buf + w.length), expected);
    EXPECT_FALSE(w.failed);

    Bytes extreme(8);
    CborWriter e{extreme.data(), 0, 8};
    putNegative(e, INT32_MIN);
    EXPECT_EQ(Bytes(extreme.begin(), extreme.begin() + e.length),
              (Bytes{0x3A, 0x7F, 0xFF, 0xFF, 0xFF}));
}

TEST(CborWriter, PutThatDoesNotFitWritesNothingAndFails) {
    uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    CborWriter w{buf, 3, 4};
    EXPECT_EQ(putHeader(w, 0, 24), 0u);
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.length, 3u);
    EXPECT_EQ(buf[3], 0xEE);

    CborWriter t{buf, 0, 4};
    putText(t, "abcd");  // 5 bytes with its header
    EXPECT_TRUE(t.failed);
    EXPECT_EQ(t.length, 0u);
    EXPECT_EQ(buf[0], 0xEE);

    CborWriter b{buf, 1, 4};
    const uint8_t data[3] = {1, 2, 3};
    putBytes(b, data, 3);
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(b.length, 1u);
    putBytes(b, data, 2);  // exactly fits; failed stays set for the request as a whole
    EXPECT_EQ(b.length, 4u);
    EXPECT_TRUE(b.failed);

    CborWriter none{};
    putUnsigned(none, 1);
    EXPECT_EQ(none.length, 0u);
    EXPECT_TRUE(none.failed);

    CborWriter positive{buf, 0, 4};
    putNegative(positive, 5);
    EXPECT_TRUE(positive.failed);
    EXPECT_EQ(positive.length, 0u);
}

TEST(CborMapFind, IntegerKeys) {
    // {3: 10, -2: 20, "x": 30, 1: {3: 40}}
    Bytes m{0xA4, 0x03, 0x0A, 0x21, 0x14, 0x61, 'x', 0x18, 0x1E, 0x01, 0xA1, 0x03, 0x18, 0x28};
    CborSpan s = spanOf(m);
    EXPECT_EQ(readHeader(mapFindInt(s, 3)).argument, 10u);
    EXPECT_EQ(offsetIn(m, mapFindInt(s, 3)), 2);
    EXPECT_EQ(mapFindInt(s, 3).length, m.size() - 2);
    EXPECT_EQ(readHeader(mapFindInt(s, -2)).argument, 20u);
    EXPECT_FALSE(mapFindInt(s, 2).found());
    EXPECT_FALSE(mapFindInt(s, 10).found()) << "a value is not a key";
    EXPECT_FALSE(mapFindInt(s, 30).found());
    EXPECT_EQ(readHeader(mapFindInt(mapFindInt(s, 1), 3)).argument, 40u);
    Bytes emptyMap{0xA0};
    EXPECT_FALSE(mapFindInt(spanOf(emptyMap), 0).found());
    EXPECT_FALSE(mapFindText(spanOf(emptyMap), "").found());

    Bytes empty{0xA0, 0x03, 0x01};
    EXPECT_FALSE(mapFindInt(spanOf(empty), 3).found()) << "bytes after an empty map";
    Bytes array{0x82, 0x03, 0x04};
    EXPECT_FALSE(mapFindInt(spanOf(array), 3).found());
    Bytes textKeys{0xA1, 0x61, 0x03, 0x01};
    EXPECT_FALSE(mapFindInt(spanOf(textKeys), 3).found());
}

TEST(CborMapFind, NestedSameKeyFindsOuterOnly) {
    // {1: {2: 5}, 2: 7}: key 2 of the inner map must not be taken for the outer one.
    Bytes m{0xA2, 0x01, 0xA1, 0x02, 0x05, 0x02, 0x07};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(m), 2)).argument, 7u);
    // {1: [2, 3], 4: 5}: array elements are not keys either.
    Bytes a{0xA2, 0x01, 0x82, 0x02, 0x03, 0x04, 0x05};
    EXPECT_FALSE(mapFindInt(spanOf(a), 2).found());
    EXPECT_FALSE(mapFindInt(spanOf(a), 3).found());
    EXPECT_EQ(readHeader(mapFindInt(spanOf(a), 4)).argument, 5u);
    // {1: {2: 5}} with key 2 only inside: nothing.
    Bytes only{0xA1, 0x01, 0xA1, 0x02, 0x05};
    EXPECT_FALSE(mapFindInt(spanOf(only), 2).found());
    // A container used as a key keeps keys and values paired: {[1]: 2, 3: 4}.
    Bytes containerKey{0xA2, 0x81, 0x01, 0x02, 0x03, 0x04};
    EXPECT_FALSE(mapFindInt(spanOf(containerKey), 2).found());
    EXPECT_EQ(readHeader(mapFindInt(spanOf(containerKey), 3)).argument, 4u);
}

TEST(CborMapFind, TextKeys) {
    // {"rkx": 1, "rk": true, "": 2, "up": h'0102'}
    Bytes m{0xA4, 0x63, 'r',  'k',  'x', 0x01, 0x62, 'r',  'k',
            0xF5, 0x60, 0x02, 0x62, 'u', 'p',  0x42, 0x01, 0x02};
    CborSpan s = spanOf(m);
    EXPECT_EQ(offsetIn(m, mapFindText(s, "rk")), 9);
    EXPECT_EQ(readHeader(mapFindText(s, "rk")).additionalInfo, 21);
    EXPECT_EQ(readHeader(mapFindText(s, "rkx")).argument, 1u);
    EXPECT_EQ(readHeader(mapFindText(s, "")).argument, 2u);
    EXPECT_FALSE(mapFindText(s, "r").found());
    EXPECT_FALSE(mapFindText(s, nullptr, 0).found());
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(readByteString(mapFindText(s, "up"), &content, &length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(content, m.data() + 16);
    // An integer key is never a text key, and a byte-string key never matches either.
    Bytes other{0xA2, 0x01, 0x02, 0x42, 'r', 'k', 0x03};
    EXPECT_FALSE(mapFindText(spanOf(other), "rk").found());
}

TEST(CborMapFind, IndefiniteMapsAndTags) {
    // {_ 1: [_ 2, 3], 2: "ab"}, with key 2 tagged.
    Bytes m{0xBF, 0x01, 0x9F, 0x02, 0x03, 0xFF, 0xC0, 0x02, 0x62, 'a', 'b', 0xFF};
    EXPECT_EQ(textAt(mapFindInt(spanOf(m), 2)), "ab");
    EXPECT_FALSE(mapFindInt(spanOf(m), 3).found());
    // Two tags on a value do not make it count twice: {1: 1(1(0)), 2: 9}.
    Bytes tags{0xA2, 0x01, 0xC1, 0xC1, 0x00, 0x02, 0x09};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(tags), 2)).argument, 9u);
    // Indefinite strings are skipped by their chunks: {1: (_ "a", "b"), 2: 9}.
    Bytes chunks{0xA2, 0x01, 0x7F, 0x61, 'a', 0x61, 'b', 0xFF, 0x02, 0x09};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(chunks), 2)).argument, 9u);
    EXPECT_EQ(itemLength(CborSpan{chunks.data() + 2, 6}), 6u);
}

TEST(CborArrayAt, Elements) {
    // [{1: 2}, "a", 7]
    Bytes a{0x83, 0xA1, 0x01, 0x02, 0x61, 'a', 0x07};
    CborSpan s = spanOf(a);
    EXPECT_EQ(offsetIn(a, arrayAt(s, 0)), 1);
    EXPECT_EQ(textAt(arrayAt(s, 1)), "a");
    EXPECT_EQ(readHeader(arrayAt(s, 2)).argument, 7u);
    EXPECT_EQ(offsetIn(a, arrayAt(s, 2)), 6);
    EXPECT_FALSE(arrayAt(s, 3).found());
    EXPECT_FALSE(arrayAt(s, -1).found());
    Bytes empty{0x80, 0x01};
    EXPECT_FALSE(arrayAt(spanOf(empty), 0).found());
    Bytes map{0xA1, 0x00, 0x01};
    EXPECT_FALSE(arrayAt(spanOf(map), 0).found());

    Bytes indefinite{0x9F, 0x01, 0x82, 0x02, 0x03, 0x04, 0xFF, 0x05};
    EXPECT_EQ(readHeader(arrayAt(spanOf(indefinite), 2)).argument, 4u);
    EXPECT_FALSE(arrayAt(spanOf(indefinite), 3).found()) << "the break ends the array";
    // Chained lookups: {3: {"x5c": [h'01', h'0203']}}
    Bytes chain{0xA1, 0x03, 0xA1, 0x63, 'x', '5', 'c', 0x82, 0x41, 0x01, 0x42, 0x02, 0x03};
    const uint8_t* content = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(readByteString(arrayAt(mapFindText(mapFindInt(spanOf(chain), 3), "x5c"), 1),
                               &content, &length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(content[1], 0x03);
    EXPECT_FALSE(arrayAt(mapFindText(mapFindInt(spanOf(chain), 4), "x5c"), 0).found());
}

TEST(CborItemLength, Items) {
    Bytes emptyArray{0x80, 0x01};
    EXPECT_EQ(itemLength(spanOf(emptyArray)), 1u);
    Bytes indefinite{0x9F, 0x01, 0x02, 0xFF, 0x00};
    EXPECT_EQ(itemLength(spanOf(indefinite)), 4u);
    Bytes bytes(34 + 3, 0x11);
    bytes[0] = 0x58;
    bytes[1] = 0x20;
    EXPECT_EQ(itemLength(spanOf(bytes)), 34u);
    Bytes nested{0xA2, 0x01, 0x82, 0x01, 0xA1, 0x61, 'k', 0x19, 0x01, 0x00, 0x02, 0xF6, 0x00};
    EXPECT_EQ(itemLength(spanOf(nested)), 12u);
    Bytes scalar{0x1A, 0, 0, 0, 1, 9};
    EXPECT_EQ(itemLength(spanOf(scalar)), 5u);
    Bytes tagged{0xC2, 0x41, 0x01, 0x00};
    EXPECT_EQ(itemLength(spanOf(tagged)), 3u);
    EXPECT_EQ(itemLength(CborSpan{}), 0u);
}

TEST(CborHostile, HeadersAndStringsPastTheEnd) {
    // The value's header runs past the end.
    Bytes header{0xA1, 0x01, 0x19, 0x01};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(header), 1)).headerLength, 0);
    EXPECT_FALSE(mapFindInt(spanOf(header), 2).found());
    // A key that is the last byte has no value.
    Bytes keyLast{0xA1, 0x01};
    EXPECT_FALSE(mapFindInt(spanOf(keyLast), 1).found());
    // A string whose length runs past the end ends the walk.
    Bytes longer{0xA2, 0x01, 0x45, 'a', 'b', 0x02, 0x07, 0x00, 0x00};
    CborSpan cut{longer.data(), 7};
    EXPECT_FALSE(mapFindInt(cut, 2).found());
    EXPECT_EQ(itemLength(cut), 7u);
    const uint8_t* content = nullptr;
    uint32_t length = 99;
    EXPECT_FALSE(readByteString(mapFindInt(cut, 1), &content, &length));
    EXPECT_EQ(content, nullptr);
    EXPECT_EQ(length, 99u);
    std::string_view text = "untouched";
    Bytes textCut{0x65, 'a', 'b'};
    EXPECT_FALSE(readTextString(spanOf(textCut), &text));
    EXPECT_EQ(text, "untouched");
    Bytes huge{0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(itemLength(spanOf(huge)), huge.size());
    EXPECT_FALSE(readByteString(spanOf(huge), &content, &length));
    // A text key whose bytes run past the end.
    Bytes keyCut{0xA1, 0x62, 'r'};
    EXPECT_FALSE(mapFindText(spanOf(keyCut), "rk").found());
    // A truncated map of arrays: itemLength stops at the end.
    Bytes arrays{0xA1, 0x01, 0x83, 0x01, 0x02};
    EXPECT_EQ(itemLength(spanOf(arrays)), 5u);
}

TEST(CborHostile, HugeCountsEndWithTheSpan) {
    Bytes map{0xBA, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(map), 3)).argument, 4u);
    EXPECT_FALSE(mapFindInt(spanOf(map), 5).found());
    EXPECT_EQ(itemLength(spanOf(map)), map.size());
    Bytes array{0x9A, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02};
    EXPECT_EQ(readHeader(arrayAt(spanOf(array), 1)).argument, 2u);
    EXPECT_FALSE(arrayAt(spanOf(array), 2).found());
    EXPECT_FALSE(arrayAt(spanOf(array), INT32_MAX).found());
    // A definite count that happens to equal the walk's indefinite marker is still definite:
    // a break byte inside it is malformed and nothing after it is found.
    Bytes marker{0x9A, 0x7E, 0xEE, 0xEE, 0xEE, 0x01, 0xFF, 0x02};
    EXPECT_FALSE(arrayAt(spanOf(marker), 1).found());
}

TEST(CborHostile, UnsupportedHeadersEndTheWalk) {
    // {1: 8-byte int, 2: 5}: the 8-byte value ends the walk, so key 2 is not found.
    Bytes m{0xA2, 0x01, 0x1B, 0, 0, 0, 0, 0, 0, 0, 1, 0x02, 0x05};
    EXPECT_TRUE(mapFindInt(spanOf(m), 1).found());
    EXPECT_FALSE(mapFindInt(spanOf(m), 2).found());
    EXPECT_EQ(itemLength(spanOf(m)), 2u);
    for (int b : {0x1C, 0x3D, 0x5E, 0x9B, 0xBB, 0xDB, 0xFB, 0xFC}) {
        Bytes r{0xA2, 0x01, static_cast<uint8_t>(b), 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x05};
        EXPECT_FALSE(mapFindInt(spanOf(r), 2).found()) << int(b);
    }
    Bytes topLevel{0x9B, 0, 0, 0, 0, 0, 0, 0, 1, 0x00};
    EXPECT_FALSE(arrayAt(spanOf(topLevel), 0).found());
    EXPECT_EQ(itemLength(spanOf(topLevel)), 0u);
    // Integers and tags cannot be indefinite.
    Bytes badInt{0x82, 0x1F, 0x01};
    EXPECT_FALSE(arrayAt(spanOf(badInt), 1).found());
}

TEST(CborHostile, BreakBytes) {
    // A break inside a definite array is malformed.
    Bytes definite{0xA2, 0x01, 0xFF, 0x02, 0x05};
    EXPECT_FALSE(mapFindInt(spanOf(definite), 2).found());
    // An indefinite array that never breaks ends with the span.
    Bytes unclosed{0x9F, 0x01, 0x02};
    EXPECT_EQ(itemLength(spanOf(unclosed)), 3u);
    EXPECT_FALSE(arrayAt(spanOf(unclosed), 2).found());
    // A break closes one container only: {1: [_ [_ ]], 2: 3}.
    Bytes closeOne{0xA2, 0x01, 0x9F, 0x9F, 0xFF, 0xFF, 0x02, 0x03};
    EXPECT_EQ(readHeader(mapFindInt(spanOf(closeOne), 2)).argument, 3u);
    EXPECT_EQ(itemLength(spanOf(closeOne)), 8u);
    // A lone break is one byte and contains nothing.
    Bytes lone{0xFF};
    EXPECT_EQ(itemLength(spanOf(lone)), 1u);
    EXPECT_FALSE(mapFindInt(spanOf(lone), 0).found());
}

TEST(CborHostile, DeepNestingDoesNotExhaustTheStack) {
    const size_t depth = 100000;
    Bytes deep(depth, 0x81);
    deep.push_back(0x00);
    deep.push_back(0x07);  // outside the nest
    CborSpan s = spanOf(deep);
    EXPECT_EQ(itemLength(s), depth + 1);
    EXPECT_EQ(offsetIn(deep, arrayAt(s, 0)), 1);
    EXPECT_FALSE(arrayAt(s, 1).found());

    Bytes deepMap{0xA2, 0x01};
    deepMap.insert(deepMap.end(), depth, 0x9F);
    deepMap.insert(deepMap.end(), depth, 0xFF);
    deepMap.push_back(0x02);
    deepMap.push_back(0x09);
    EXPECT_EQ(readHeader(mapFindInt(spanOf(deepMap), 2)).argument, 9u);
    Bytes unclosed(depth, 0x9F);
    EXPECT_EQ(itemLength(spanOf(unclosed)), depth);
}

TEST(CborHostile, RandomInputsStayInsideTheirBytes) {
    // Fixed-seed generator: short buffers biased towards containers, strings and breaks.
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    };
    const uint8_t interesting[] = {0x81, 0x82, 0x9F, 0xA1, 0xA2, 0xBF, 0xFF, 0x42, 0x62,
                                   0x7F, 0x01, 0x21, 0xC2, 0x1B, 0x18, 0x19, 0xF5};
    for (int round = 0; round < 20000; ++round) {
        Bytes b(1 + next() % 24);
        for (uint8_t& x : b) {
            uint8_t r = next();
            x = (r & 1) ? interesting[r % sizeof interesting] : next();
        }
        CborSpan s = spanOf(b);
        auto inside = [&](CborSpan v) {
            return !v.found() ||
                   (v.data >= b.data() && v.data + v.length == b.data() + b.size() && v.length > 0);
        };
        ASSERT_LE(itemLength(s), b.size());
        for (int32_t k = -2; k < 3; ++k) {
            ASSERT_TRUE(inside(mapFindInt(s, k)));
            ASSERT_TRUE(inside(arrayAt(s, k)));
            ASSERT_LE(itemLength(arrayAt(s, k)), b.size());
        }
        ASSERT_TRUE(inside(mapFindText(s, "b")));
        const uint8_t* content = nullptr;
        uint32_t length = 0;
        if (readByteString(arrayAt(s, 0), &content, &length)) {
            ASSERT_LE(content + length, b.data() + b.size());
        }
    }
}

TEST(CborBase, NullItem) {
    const CborBase& n = CborBase::nullItem();
    EXPECT_EQ(&n, &CborBase::nullItem());
    EXPECT_EQ(n.majorType, 7);
    EXPECT_EQ(n.additionalInfo, 22);
    EXPECT_EQ(n.tag, 255u);
    EXPECT_EQ(n.count(), 0u);
    EXPECT_EQ(n.size(), 0u);
    EXPECT_EQ(&n.at(0), &n);
    EXPECT_EQ(&n.find(1), &n);
    EXPECT_EQ(&n.find(std::string_view("rk")), &n);

    uint8_t buf[4] = {};
    EXPECT_EQ(n.encode(buf, 4), 1u);
    EXPECT_EQ(buf[0], 0xF6);
    EXPECT_EQ(n.encode(nullptr, 4), 0u);
    EXPECT_EQ(n.encode(buf, 0), 0u);

    CborBase tagged(7, 21, 300);
    uint8_t out[4] = {};
    EXPECT_EQ(tagged.encode(out, 4), 4u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xD9, 0x01, 0x2C, 0xF5}));
    EXPECT_EQ(tagged.encode(out, 3), 3u) << "the tag alone is counted";
    out[0] = 0;
    EXPECT_EQ(tagged.encode(out, 2), 1u) << "no room for the tag, room for the initial byte";
    EXPECT_EQ(out[0], 0xF5);

    char text[64] = {};
    std::FILE* f = fmemopen(text, sizeof text, "w");
    ASSERT_NE(f, nullptr);
    tagged.print(f);
    n.print(f);
    std::fclose(f);
    EXPECT_STREQ(text, "(300) null\r\nnull\r\n");
}

}  // namespace
}  // namespace orvanta
