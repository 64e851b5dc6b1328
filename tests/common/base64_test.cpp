#include "common/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes decode(std::string_view text) {
    return base64Decode(text.data(), text.size());
}

// RFC 4648 section 10.
const std::vector<std::pair<std::string_view, std::string_view>> RFC4648_VECTORS = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, EncodesRfc4648Vectors) {
    for (const auto& [plain, encoded] : RFC4648_VECTORS) {
        Bytes data = bytesOf(plain);
        EXPECT_EQ(base64Encode(data.data(), data.size()), encoded) << plain;

        char buffer[16];
        size_t written = base64Encode(data.data(), data.size(), buffer, sizeof(buffer));
        EXPECT_EQ(written, encoded.size()) << plain;
        EXPECT_EQ(std::string(buffer), encoded) << plain;
    }
}

TEST(Base64, DecodesRfc4648Vectors) {
    for (const auto& [plain, encoded] : RFC4648_VECTORS) {
        EXPECT_EQ(decode(encoded), bytesOf(plain)) << encoded;
    }
}

TEST(Base64, EveryByteValueRoundTrips) {
    Bytes data;
    for (int i = 0; i < 256; ++i) {
        data.push_back(static_cast<uint8_t>(255 - i));
    }
    for (size_t length : {size_t{254}, size_t{255}, size_t{256}}) {
        std::string text = base64Encode(data.data(), length);
        EXPECT_EQ(text.size(), base64EncodedLength(length));
        EXPECT_EQ(decode(text), Bytes(data.begin(), data.begin() + length));
    }
    // "+" and "/" both occur: FB EF BE gives "++++", FF FF FF gives "////".
    Bytes high{0xfb, 0xef, 0xbe, 0xff, 0xff, 0xff};
    EXPECT_EQ(base64Encode(high.data(), high.size()), "++++////");
}

TEST(Base64, BufferFormNeverWritesPastCapacity) {
    Bytes data = bytesOf("abcd");  // 8 characters
    char buffer[12];

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(base64Encode(data.data(), data.size(), buffer, 9), 8u);  // text + zero fit
    EXPECT_STREQ(buffer, "YWJjZA==");
    EXPECT_EQ(buffer[9], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(base64Encode(data.data(), data.size(), buffer, 8), 0u);  // no room for zero
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(base64Encode(data.data(), data.size(), buffer, 0), 0u);
    EXPECT_EQ(buffer[0], '#');

    EXPECT_EQ(base64Encode(data.data(), 0, buffer, 1), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(Base64, DecoderSkipsBlanksAndForeignCharacters) {
    EXPECT_EQ(decode("YWJj"), bytesOf("abc"));
    EXPECT_EQ(decode("YW Jj"), bytesOf("abc"));
    EXPECT_EQ(decode("Y\tW\r\nJ j\n"), bytesOf("abc"));
    EXPECT_EQ(decode("Y-W_J.j!"), bytesOf("abc"));
    EXPECT_EQ(decode("YW\xc3\xa9Jj\x80\xff"), bytesOf("abc"));  // codes 0x80 and up
    EXPECT_EQ(decode("YQ=="), bytesOf("a"));
    EXPECT_EQ(decode("YWI="), bytesOf("ab"));
    EXPECT_EQ(decode("YWI"), bytesOf("ab"));  // missing pad is no failure
}

TEST(Base64, PadInSecondPositionGivesNothing) {
    EXPECT_TRUE(decode("Y=").empty());
    EXPECT_TRUE(decode("Y==").empty());
    EXPECT_TRUE(decode("YWJjZ=").empty());  // second position of the second group
    EXPECT_TRUE(decode("Y = ").empty());
}

TEST(Base64, PadsDoNotEndTheInput) {
    // Decoding goes on after pads that are allowed where they are.
    EXPECT_EQ(decode("YQ==YQ=="), (Bytes{0x61, 0x06, 0x10}));  // second group starts late
    EXPECT_EQ(decode("=YWJj"), bytesOf("abc"));
}

TEST(Base64, StopsAfterTheMaximumOrAtAZero) {
    const char* text = "YWJjZGVm";  // abcdef
    EXPECT_EQ(base64Decode(text, 4), bytesOf("abc"));
    EXPECT_EQ(base64Decode(text, 5), bytesOf("abc"));
    EXPECT_EQ(base64Decode(text, 6), bytesOf("abcd"));
    EXPECT_EQ(base64Decode(text, 0), Bytes{});
    // Skipped characters count towards the maximum.
    EXPECT_EQ(base64Decode("  YWJj", 4), bytesOf("a"));

    const char zeroInside[] = "YWJj\0ZGVm";
    EXPECT_EQ(base64Decode(zeroInside, sizeof(zeroInside) - 1), bytesOf("abc"));
    EXPECT_EQ(base64Decode(nullptr, 10), Bytes{});
}

TEST(Base64, PadLookAheadStaysWithinTheMaximum) {
    // Unterminated buffers: the decoder must not look at the byte after the last one.
    const char endsInPad[3] = {'Y', 'Q', '='};
    EXPECT_EQ(base64Decode(endsInPad, sizeof(endsInPad)), bytesOf("a"));
    const char lonePad[2] = {'Y', '='};
    EXPECT_TRUE(base64Decode(lonePad, sizeof(lonePad)).empty());
    // A pad beyond the maximum is not seen: the text ends after "Y=", and that pad alone
    // breaks the group.
    EXPECT_TRUE(base64Decode("Y==", 2).empty());
}

TEST(Base64, StrictDecoderTakesBothAlphabetsAndRefusesTheRest) {
    EXPECT_EQ(base64DecodeStrict(" Y\tW\r\nJj\f\v"), bytesOf("abc"));
    EXPECT_EQ(base64DecodeStrict("+/-_"), (Bytes{0xFB, 0xFF, 0xBF}));
    EXPECT_EQ(base64DecodeStrict("YQ"), bytesOf("a"));
    EXPECT_EQ(base64DecodeStrict("YQ===\n"), bytesOf("a"));  // pads optional, not counted
    EXPECT_EQ(base64DecodeStrict(" "), Bytes{});
    EXPECT_FALSE(base64DecodeStrict("YQ==YQ=="));  // a symbol after the padding
    EXPECT_FALSE(base64DecodeStrict("YW.j"));
    EXPECT_FALSE(base64DecodeStrict(std::string_view("YW\0j", 4)));
    EXPECT_FALSE(base64DecodeStrict("YWJjZ"));  // a lone symbol cannot end a group
}

}  // namespace
}  // namespace orvanta
