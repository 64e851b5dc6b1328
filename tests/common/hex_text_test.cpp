// Hexadecimal text both ways, and whole reads with a ceiling.

#include "common/hex_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/bounded_read.h"

namespace orvanta {
namespace {

TEST(HexText, FormatsAndParsesDigitPairs) {
    const std::vector<uint8_t> bytes = {0x00, 0x9A, 0xFF};
    EXPECT_EQ(hexText(bytes), "009AFF");
    EXPECT_EQ(hexText(bytes, " "), "00 9A FF ");
    EXPECT_EQ(hexText(bytes, "", HexCase::Lower), "009aff");
    EXPECT_EQ(hex4(0x1209), "1209");
    EXPECT_EQ(hex4(0xA), "000A");

    EXPECT_EQ(hexBytes("009aFF"), bytes);
    EXPECT_EQ(hexBytes(""), std::vector<uint8_t>{});
    EXPECT_EQ(hexBytes("009"), std::nullopt);    // half a byte
    EXPECT_EQ(hexBytes("0g"), std::nullopt);     // no digit
    EXPECT_EQ(hexBytes("00 9A"), std::nullopt);  // separators are the caller's to drop
}

TEST(BoundedRead, TakesUpToTheLimitAndRefusesMore) {
    std::vector<uint8_t> out;
    std::istringstream exact(std::string(40000, 'x'));
    EXPECT_TRUE(readBounded(exact, 40000, out));
    EXPECT_EQ(out.size(), 40000u);

    out.clear();
    std::istringstream over(std::string(40001, 'x'));
    EXPECT_FALSE(readBounded(over, 40000, out));
    EXPECT_LE(out.size(), 40000u);

    EXPECT_EQ(readFileBounded("/nonexistent/orvanta-file", 10), std::nullopt);
}

}  // namespace
}  // namespace orvanta
