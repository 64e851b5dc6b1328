#include "info/getinfo_rows.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/hex_text.h"
#include "transport/clock.h"
#include "transport/device_session.h"
#include "transport/exchange.h"

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::pair<std::string, std::string>>;

const std::string FIRST = "authenticatorGetInfo";

Rows rowsOf(const Bytes& reply) {
    Rows rows;
    appendGetInfoRowsFromReply(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())},
                               [&rows](const std::string& label, const std::string& value) {
                                   rows.emplace_back(label, value);
                               });
    return rows;
}

// What the reply decodes to; the rows go nowhere.
AuthenticatorInfo infoOf(const Bytes& reply) {
    return appendGetInfoRowsFromReply(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())},
                                      [](const std::string&, const std::string&) {});
}

// Rows after the first, which is always the versions row.
Rows restOf(const Bytes& reply) {
    Rows rows = rowsOf(reply);
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().first, FIRST);
    rows.erase(rows.begin());
    return rows;
}

// A reply writer with room for any test map.
struct Reply {
    uint8_t buffer[2048] = {};
    CborWriter w{buffer, 0, 2048};
    Bytes bytes() const {
        EXPECT_FALSE(w.failed);
        return Bytes(buffer, buffer + w.length);
    }
};

// The reply of a key that sends these members.
Bytes replyOf(const AuthenticatorInfo& info) {
    Reply r;
    encodeAuthenticatorInfo(info, r.w);
    return r.bytes();
}

// Rows of the block with these values: the block's first row, then rows that continue it.
Rows block(std::initializer_list<std::string> values) {
    Rows rows;
    for (const std::string& value : values) {
        rows.emplace_back(rows.empty() ? FIRST : " ", value);
    }
    return rows;
}
Rows continued(std::initializer_list<std::string> values) {
    Rows rows = block(values);
    rows.front().first = " ";
    return rows;
}
Rows one(const std::string& value) {
    return continued({value});
}

class GetInfoRows : public ::testing::Test {};

TEST_F(GetInfoRows, Versions) {
    AuthenticatorInfo info;
    info.versions = {"FIDO_2_0", "U2F_V2"};
    EXPECT_EQ(rowsOf(replyOf(info)), (Rows{{FIRST, "1: FIDO_2_0  U2F_V2  "}}));

    // Missing key 1, an empty map, a reply that is no map: the first row stays.
    AuthenticatorInfo other;
    other.maxCredentialCountInList = 8;
    EXPECT_EQ(rowsOf(replyOf(other)).front(), (std::pair<std::string, std::string>{FIRST, "1: "}));
    EXPECT_EQ(rowsOf(Bytes{0xA0}), (Rows{{FIRST, "1: "}}));
    EXPECT_EQ(rowsOf(Bytes{0x00}), (Rows{{FIRST, "1: "}}));

    // Non-text elements are empty texts.
    Bytes mixed{0xA1, 0x01, 0x83, 0x61, 'A', 0x05, 0x61, 'B'};
    EXPECT_EQ(rowsOf(mixed).front().second, "1: A    B  ");
}

TEST_F(GetInfoRows, ExtensionsAndTransports) {
    Bytes empty{0xA2, 0x02, 0x80, 0x09, 0x80};
    EXPECT_EQ(restOf(empty), Rows{});
    Bytes nonText{0xA1, 0x02, 0x81, 0x01};
    EXPECT_EQ(restOf(nonText), one("2:   "));
    AuthenticatorInfo info;
    info.extensions = {"credProtect", "hmac-secret"};
    info.transports = {"usb", "nfc"};
    EXPECT_EQ(restOf(replyOf(info)), continued({"2: credProtect  hmac-secret  ", "9: usb  nfc  "}));
}

TEST_F(GetInfoRows, Aaguid) {
    AuthenticatorInfo info;
    info.aaguid.emplace();
    for (uint8_t i = 0; i < 16; ++i) {
        info.aaguid->push_back(i);
    }
    EXPECT_EQ(restOf(replyOf(info)), one("3: 000102030405060708090A0B0C0D0E0F"));

    Bytes upper{0xA1, 0x03, 0x42, 0xAB, 0xF0};
    EXPECT_EQ(restOf(upper), one("3: ABF0"));
    Bytes text{0xA1, 0x03, 0x62, 'a', 'b'};
    EXPECT_EQ(restOf(text), Rows{});
    Bytes emptyBytes{0xA1, 0x03, 0x40};
    EXPECT_EQ(restOf(emptyBytes), Rows{});
    // A length past the end of the reply shows nothing rather than bytes beyond it.
    Bytes cut{0xA1, 0x03, 0x50, 0x00, 0x01, 0x02};
    EXPECT_EQ(restOf(cut), Rows{});

    // At most 512 bytes are shown.
    for (uint32_t n : {512u, 513u}) {
        info.aaguid = std::vector<uint8_t>(n, 0xA5);
        Rows rows = restOf(replyOf(info));
        if (n == 512) {
            std::string hex;
            for (int i = 0; i < 512; ++i) {
                hex += "A5";
            }
            EXPECT_EQ(rows, one("3: " + hex));
        } else {
            EXPECT_EQ(rows, Rows{});
        }
    }
}

Bytes optionsReply(const std::vector<std::pair<std::string, uint8_t>>& options) {
    Reply r;
    beginMap(r.w, 1);
    putUnsigned(r.w, 4);
    beginMap(r.w, static_cast<uint32_t>(options.size()));
    for (const auto& [name, value] : options) {
        putText(r.w, name);
        putHeader(r.w, value >> 5, value & 0x1F);
    }
    return r.bytes();
}

TEST_F(GetInfoRows, OptionsInFixedOrder) {
    // Reply order differs from the shown order; unknown names are not shown.
    Bytes reply = optionsReply(
        {{"clientPin", 0xF5}, {"plat", 0xF4}, {"rk", 0xF5}, {"up", 0xF5}, {"zz", 0xF5}});
    Rows rows = restOf(reply);
    EXPECT_EQ(rows, one("4: rk=true  up=true  plat=false  clientPin=true  "));
    EXPECT_EQ(rows[0].second.size(), 49u);
    EXPECT_EQ(infoOf(reply).clientPin(), std::optional<bool>(true));

    // Values other than true and false add nothing.
    EXPECT_EQ(restOf(optionsReply({{"rk", 0xF6}, {"up", 0x01}})), Rows{});
    EXPECT_EQ(restOf(optionsReply({})), Rows{});
}

TEST_F(GetInfoRows, ClientPinOption) {
    EXPECT_EQ(infoOf(optionsReply({{"rk", 0xF5}})).clientPin(), std::nullopt)
        << "a missing clientPin option says nothing of the flag";
    EXPECT_EQ(infoOf(Bytes{0xA0}).clientPin(), std::nullopt) << "no options member at all";
    const Bytes off = optionsReply({{"clientPin", 0xF4}});
    EXPECT_EQ(restOf(off), one("4: clientPin=false  "));
    EXPECT_EQ(infoOf(off).clientPin(), std::optional<bool>(false));
    const Bytes on = optionsReply({{"clientPin", 0xF5}});
    EXPECT_EQ(restOf(on), one("4: clientPin=true  "));
    EXPECT_EQ(infoOf(on).clientPin(), std::optional<bool>(true));
}

TEST_F(GetInfoRows, AllOptionNamesAndTheCutAt85) {
    // Every name the page shows, in the order it shows them.
    std::istringstream words(
        "ep rk up uv plat uvAcfg alwaysUv credMgmt authnrCfg bioEnroll clientPin largeBlobs "
        "uvBioEnroll pinUvAuthToken setMinPINLength makeCredUvNotRqd credentialMgmtPreview "
        "userVerificationMgmtPreview noMcGaPermissionsWithClientPin");
    const std::vector<std::string> names{std::istream_iterator<std::string>(words),
                                         std::istream_iterator<std::string>()};
    ASSERT_EQ(names.size(), 19u);
    std::vector<std::pair<std::string, uint8_t>> options;
    std::string expected = "4: ";
    // Written in reverse to show that the fixed order wins.
    for (int i = 18; i >= 0; --i) {
        options.emplace_back(names[i], i % 2 ? 0xF4 : 0xF5);
    }
    for (int i = 0; i <= 18; ++i) {
        expected += names[i] + (i % 2 ? "=false  " : "=true  ");
    }
    Rows rows = restOf(optionsReply(options));
    std::string joined;
    for (const auto& [label, value] : rows) {
        EXPECT_EQ(label, " ");
        joined += value;
    }
    EXPECT_EQ(joined, expected);
    ASSERT_EQ(rows.size(), (expected.size() + 84) / 85);
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        EXPECT_EQ(rows[i].second.size(), 85u);
    }

    // "4: " (3) + "largeBlobs=false  " (18) + "credentialMgmtPreview=false  " (29)
    // + "userVerificationMgmtPreview=false  " (35) = 85 characters: one row.
    Rows exact = restOf(optionsReply({{"userVerificationMgmtPreview", 0xF4},
                                      {"credentialMgmtPreview", 0xF4},
                                      {"largeBlobs", 0xF4}}));
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_EQ(exact[0].second.size(), 85u);
    // "uvBioEnroll=false  " (19) instead of largeBlobs: 86, the last character alone.
    Rows over = restOf(optionsReply({{"userVerificationMgmtPreview", 0xF4},
                                     {"credentialMgmtPreview", 0xF4},
                                     {"uvBioEnroll", 0xF4}}));
    ASSERT_EQ(over.size(), 2u);
    EXPECT_EQ(over[0].second,
              "4: uvBioEnroll=false  credentialMgmtPreview=false  "
              "userVerificationMgmtPreview=false ");
    EXPECT_EQ(over[1], (std::pair<std::string, std::string>{" ", " "}));
}

TEST_F(GetInfoRows, UnsignedMembers) {
    Reply r;
    beginMap(r.w, 13);
    for (uint32_t key : {5u, 7u, 8u, 11u, 13u, 14u, 15u, 16u, 17u, 18u, 20u, 21u}) {
        putUnsigned(r.w, key);
        putUnsigned(r.w, key == 5 ? 1200 : key == 13 ? 4 : key * 10);
    }
    putUnsigned(r.w, 22);  // unknown keys are not shown
    putUnsigned(r.w, 1);
    EXPECT_EQ(restOf(r.bytes()), continued({"5: 1200", "7: 70  ", "8: 80  ", "11: 110  ", "13: 4  ",
                                            "14: 140  ", "15: 150  ", "16: 160  ", "17: 170  ",
                                            "18: 180  ", "20: 200  ", "21: 210  "}));

    // Values that are not unsigned integers show nothing.
    Bytes others{0xA4, 0x05, 0x20, 0x07, 0x61, '1', 0x08, 0xF5, 0x15, 0x81, 0x01};
    EXPECT_EQ(restOf(others), Rows{});

    // 2^31 and more print as unsigned decimals.
    AuthenticatorInfo big;
    big.maxMsgSize = 0x80000000u;
    big.firmwareVersion = 0xFFFFFFFFu;
    big.certifications = {{"FIDO", 0x80000001u}};
    EXPECT_EQ(restOf(replyOf(big)),
              continued({"5: 2147483648", "14: 4294967295  ", "19: FIDO = 2147483649  "}));
}

TEST_F(GetInfoRows, PinUvAuthProtocols) {
    Bytes reply{0xA1, 0x06, 0x82, 0x01, 0x02};
    EXPECT_EQ(restOf(reply), one("6: 1  2  "));
    Bytes mixed{0xA1, 0x06, 0x84, 0x01, 0x20, 0x61, 'x', 0x1A, 0x80, 0x00, 0x00, 0x00};
    EXPECT_EQ(restOf(mixed), one("6: 1  2147483648  "));
    Bytes none{0xA1, 0x06, 0x81, 0x20};
    EXPECT_EQ(restOf(none), Rows{});
}

TEST_F(GetInfoRows, Algorithms) {
    auto algorithm = [](Reply& r, int32_t alg, bool negative, const char* type) {
        beginMap(r.w, 2);
        putText(r.w, "alg");
        if (negative) {
            putNegative(r.w, alg);
        } else {
            putUnsigned(r.w, static_cast<uint32_t>(alg));
        }
        putText(r.w, "type");
        putText(r.w, type);
    };
    Reply r;
    beginMap(r.w, 1);
    putUnsigned(r.w, 10);
    beginArray(r.w, 3);
    algorithm(r, -7, true, "public-key");
    algorithm(r, -8, true, "public-key");
    algorithm(r, 3, false, "odd");
    EXPECT_EQ(restOf(r.bytes()), one("10: alg=-7  type=public-keyalg=-8  type=public-keytype=odd"));

    // Missing alg and type, a non-map element, and an alg below the 32-bit range.
    Bytes odd{0xA1, 0x0A, 0x83, 0xA0, 0x01, 0xA1, 0x63, 'a',
              'l',  'g',  0x3A, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(restOf(odd), one("10: type=type=alg=-4294967296  type="));
}

TEST_F(GetInfoRows, ForcePinChange) {
    EXPECT_EQ(restOf(Bytes{0xA1, 0x0C, 0xF5}), one("12: true  "));
    EXPECT_EQ(restOf(Bytes{0xA1, 0x0C, 0xF4}), one("12: false  "));
    EXPECT_EQ(restOf(Bytes{0xA1, 0x0C, 0xF6}), Rows{});
    EXPECT_EQ(restOf(Bytes{0xA1, 0x0C, 0x01}), Rows{});
}

TEST_F(GetInfoRows, CertificationsInFixedOrder) {
    Reply r;
    beginMap(r.w, 1);
    putUnsigned(r.w, 19);
    // Not in the page's order, a level that is no number, and names the page does not know.
    const std::vector<std::pair<std::string, std::optional<uint32_t>>> levels = {
        {"CC-EAL", 5},       {"FIDO", 2},        {"FIPS-CMVP-3-PHY", 3}, {"FIPS-CMVP-2-PHY", 2},
        {"FIPS-CMVP-3", {}}, {"FIPS-CMVP-2", 1}, {"Other", 9},           {"fido", 9}};
    beginMap(r.w, static_cast<uint32_t>(levels.size()));
    for (const auto& [name, level] : levels) {
        putText(r.w, name);
        if (level) {
            putUnsigned(r.w, *level);
        } else {
            putText(r.w, "3");
        }
    }
    EXPECT_EQ(restOf(r.bytes()),
              continued({"19: FIDO = 2  ", "19: FIPS-CMVP-2 = 1  ", "19: FIPS-CMVP-2-PHY = 2  ",
                         "19: FIPS-CMVP-3-PHY = 3  ", "19: CC-EAL = 5  "}));
}

TEST_F(GetInfoRows, MembersInKeyOrder) {
    // A reply written in canonical order yields rows in key order.
    AuthenticatorInfo info;
    info.versions = {"FIDO_2_1"};
    info.extensions = {"credProtect"};
    info.aaguid = {0x0F, 0xF0};
    info.options = {{"rk", true}};
    info.maxMsgSize = 1200;
    info.pinUvAuthProtocols = {1};
    info.forcePinChange = false;
    info.remainingDiscoverableCredentials = 25;
    EXPECT_EQ(rowsOf(replyOf(info)),
              block({"1: FIDO_2_1  ", "2: credProtect  ", "3: 0FF0", "4: rk=true  ", "5: 1200",
                     "6: 1  ", "12: false  ", "20: 25  "}));
}

TEST_F(GetInfoRows, NewerMembersAndUnknownOnesInDiagnosticNotation) {
    AuthenticatorInfo info;
    info.versions = {"FIDO_2_2"};
    info.attestationFormats = {"packed", "none"};
    info.uvCountSinceLastPinEntry = 5;
    info.longTouchForReset = true;
    info.encIdentifier = {0x0A, 0xBC, 0xFF};
    info.transportsForReset = {"usb"};
    info.pinComplexityPolicy = false;
    const std::string url = "https://example.org/policy";
    info.pinComplexityPolicyURL.emplace(url.begin(), url.end());
    info.maxPINLength = 63;
    info.encCredStoreState = std::vector<uint8_t>(50, 0x11);  // 100 hex digits: two rows
    info.authenticatorConfigCommands = {1, 3};
    // Unknown: 0x40: {"a": [-2, h'00'], 1: 6("x")}, and after it, out of key order, 0: a
    // half-precision 1.5.
    info.otherMembers = {{0x40, {0xA2, 0x61, 'a', 0x82, 0x21, 0x41, 0x00, 0x01, 0xC6, 0x61, 'x'}}};
    Bytes reply = replyOf(info);
    ASSERT_EQ(reply[0], 0xAC);
    reply[0] = 0xAD;  // a map of 13: the member appended here
    reply.insert(reply.end(), {0x00, 0xF9, 0x3E, 0x00});
    EXPECT_EQ(restOf(reply),
              continued({"22: packed  none  ", "23: 5  ", "24: true  ", "25: 0ABCFF", "26: usb  ",
                         "27: false  ", "28: " + hexText(*info.pinComplexityPolicyURL), "29: 63  ",
                         "30: " + std::string(81, '1'), std::string(19, '1'), "31: 1  3  ",
                         "64: {\"a\": [-2, h'00'], 1: 6(\"x\")}", "0: 1.5"}));
}

TEST_F(GetInfoRows, LongRowsAreCutBetweenCharacters) {
    // An unknown member: a text of 90 two-byte characters. The first row holds "64: \"" and
    // 80 of them (85 characters), the second the other ten and the closing quote.
    std::string accented;
    for (int i = 0; i < 90; ++i) {
        accented += "\u00e9";
    }
    AuthenticatorInfo info;
    info.versions = {"FIDO_2_1"};
    info.otherMembers = {{0x40, {0x78, 180}}};
    info.otherMembers[0].second.insert(info.otherMembers[0].second.end(), accented.begin(),
                                       accented.end());
    EXPECT_EQ(restOf(replyOf(info)),
              continued({"64: \"" + accented.substr(0, 160), accented.substr(160) + "\""}));
}

TEST_F(GetInfoRows, IrregularArrays) {
    // An indefinite versions array ends at its break.
    Bytes indefinite{0xA1, 0x01, 0x9F, 0x61, 'A', 0x61, 'B', 0xFF};
    EXPECT_EQ(rowsOf(indefinite), (Rows{{FIRST, "1: A  B  "}}));
    // An indefinite array cut off by the end of the reply ends with it.
    Bytes unclosed{0xA1, 0x01, 0x9F, 0x61, 'A'};
    EXPECT_EQ(rowsOf(unclosed), (Rows{{FIRST, "1: A  "}}));
    // A text element whose length runs past the reply is cut at its end.
    Bytes cutText{0xA1, 0x01, 0x81, 0x65, 'A', 'B'};
    EXPECT_EQ(rowsOf(cutText), (Rows{{FIRST, "1: AB  "}}));
    // A definite array claiming more elements than arrived: missing ones are empty, and a
    // huge claim is bounded by the bytes received.
    Bytes claims{0xA1, 0x01, 0x83, 0x61, 'A'};
    EXPECT_EQ(rowsOf(claims), (Rows{{FIRST, "1: A      "}}));
    Bytes huge{0xA1, 0x01, 0x9A, 0xFF, 0xFF, 0xFF, 0xFF, 0x61, 'A'};
    Rows rows = rowsOf(huge);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].second.substr(0, 6), "1: A  ");
    EXPECT_LE(rows[0].second.size(), 3u + 2u * huge.size() + 1u);
    // A member that is a text string instead of an array: empty elements, one per byte.
    Bytes textMember{0xA1, 0x02, 0x62, 'u', 's'};
    EXPECT_EQ(restOf(textMember), one("2:     "));
}

TEST_F(GetInfoRows, FailedExchangeAddsNothing) {
    ManualClock clock;
    DeviceSession keyless(clock);  // no key: the send fails for want of a device
    Rows rows;
    const std::optional<AuthenticatorInfo> info =
        appendGetInfoRows(keyless, [&rows](const std::string& label, const std::string& value) {
            rows.emplace_back(label, value);
        });
    EXPECT_EQ(rows, Rows{});
    EXPECT_FALSE(info.has_value()) << "a failed exchange says nothing of the key";
}

}  // namespace
}  // namespace orvanta
