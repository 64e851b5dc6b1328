// authenticatorGetInfo decoded into its typed value: members by name, options and
// certifications in reply order with the first of a name counting, irregular elements kept
// in place, and members without a name kept as their CBOR items.

#include "ctap/authenticator_info.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvanta {
namespace {

using Bytes = std::vector<uint8_t>;

CborSpan spanOf(const Bytes& bytes) {
    return CborSpan{bytes.data(), static_cast<uint32_t>(bytes.size())};
}

TEST(AuthenticatorInfoDecode, MembersByNameAndUnnamedMembersAsTheirItems) {
    const Bytes reply = {
        0xA8,                                                            // map of 8
        0x01, 0x82, 0x68, 'F', 'I', 'D', 'O', '_', '2', '_', '0', 0x05,  // 1: ["FIDO_2_0",
                                                                         // 5]
        0x04, 0xA4,                                                      // 4: options
        0x62, 'r', 'k', 0xF5,                                            //    rk: true
        0x69, 'c', 'l', 'i', 'e', 'n', 't', 'P', 'i', 'n', 0xF4,         //    clientPin: false
        0x62, 'r', 'k', 0xF4,                                            //    rk: false (repeated)
        0x62, 'u', 'p', 0x01,                                            //    up: 1 (no boolean)
        0x06, 0x83, 0x02, 0x61, 'x', 0x01,                               // 6: [2, "x", 1]
        0x0A, 0x82,                                                      // 10: two algorithms
        0xA2, 0x63, 'a', 'l', 'g', 0x26, 0x64, 't', 'y', 'p', 'e', 0x62, 'p', 'k', 0xA1, 0x63, 'a',
        'l', 'g', 0x03, 0x0C, 0xF5,                      // 12: true
        0x0E, 0x1A, 0x80, 0x00, 0x00, 0x00,              // 14: 2^31
        0x16, 0x81, 0x66, 'p', 'a', 'c', 'k', 'e', 'd',  // 0x16: ["packed"]
        0x18, 0x20, 0x42, 0x01, 0x02,                    // 0x20: h'0102'
    };
    const AuthenticatorInfo info = decodeAuthenticatorInfo(spanOf(reply));

    EXPECT_EQ(info.versions, (std::vector<std::string>{"FIDO_2_0", ""}));
    ASSERT_EQ(info.options.size(), 4u);
    EXPECT_EQ(info.options[0].name, "rk");
    EXPECT_EQ(info.option("rk"), true);  // the first "rk" counts
    EXPECT_EQ(info.clientPin(), false);
    EXPECT_EQ(info.option("up"), std::nullopt);
    EXPECT_EQ(info.option("uv"), std::nullopt);
    EXPECT_EQ(info.pinUvAuthProtocols, (std::vector<uint64_t>{2, 1}));
    ASSERT_EQ(info.algorithms.size(), 2u);
    EXPECT_EQ(info.algorithms[0].alg, -7);
    EXPECT_EQ(info.algorithms[0].type, "pk");
    EXPECT_EQ(info.algorithms[1].alg, 3);
    EXPECT_EQ(info.algorithms[1].type, "");
    EXPECT_EQ(info.forcePinChange, true);
    EXPECT_EQ(info.firmwareVersion, 0x80000000u);
    EXPECT_FALSE(info.maxMsgSize.has_value());
    EXPECT_FALSE(info.aaguid.has_value());

    EXPECT_EQ(info.attestationFormats, (std::vector<std::string>{"packed"}));
    ASSERT_EQ(info.otherMembers.size(), 1u);
    EXPECT_EQ(info.otherMembers[0].first, 0x20u);
    EXPECT_EQ(info.otherMembers[0].second, (Bytes{0x42, 0x01, 0x02}));
    EXPECT_EQ(authenticatorInfoMemberName(6), "pinUvAuthProtocols");
    EXPECT_EQ(authenticatorInfoMemberName(0x16), "attestationFormats");
    EXPECT_EQ(authenticatorInfoMemberName(0x1F), "authenticatorConfigCommands");
    EXPECT_EQ(authenticatorInfoMemberName(0x20), "");
}

TEST(AuthenticatorInfoDecode, CutOrForeignRepliesGiveWhatWasReceived) {
    EXPECT_TRUE(decodeAuthenticatorInfo(spanOf(Bytes{0x00})).versions.empty());
    EXPECT_TRUE(decodeAuthenticatorInfo(CborSpan{}).options.empty());
    // An aaguid that runs past the reply is no aaguid; a text cut by the reply keeps what came.
    const AuthenticatorInfo cut =
        decodeAuthenticatorInfo(spanOf(Bytes{0xA2, 0x01, 0x81, 0x64, 'F', 'I', 0x03, 0x50, 0x01}));
    EXPECT_FALSE(cut.aaguid.has_value());
    // The map ends where its walk ends: the text item runs past the reply.
    EXPECT_LE(cut.versions.size(), 1u);
}

TEST(AuthenticatorInfoDecode, PlainAndIrregularEncodingsOfTheSameReplyAgree) {
    // The same members, once in the plain form most keys send (read in one pass) and once
    // with an indefinite-length transports list (read by the codec's general walk).
    const Bytes head = {0xA6, 0x01, 0x82, 0x68, 'F',  'I',  'D',  'O',  '_',  '2',  '_', '0',
                        0x66, 'U',  '2',  'F',  '_',  'V',  '2',  0x04, 0xA2, 0x62, 'r', 'k',
                        0xF5, 0x62, 'u',  'p',  0xF4, 0x06, 0x82, 0x01, 0x02, 0x09};
    const Bytes tail = {0x0A, 0x81, 0xA2, 0x63, 'a', 'l', 'g',  0x26, 0x64, 't',
                        'y',  'p',  'e',  0x62, 'p', 'k', 0x18, 0x20, 0x41, 0x01};
    Bytes plain = head;
    plain.insert(plain.end(), {0x81, 0x63, 'u', 's', 'b'});
    plain.insert(plain.end(), tail.begin(), tail.end());
    Bytes irregular = head;
    irregular.insert(irregular.end(), {0x9F, 0x63, 'u', 's', 'b', 0xFF});
    irregular.insert(irregular.end(), tail.begin(), tail.end());

    const AuthenticatorInfo a = decodeAuthenticatorInfo(spanOf(plain));
    const AuthenticatorInfo b = decodeAuthenticatorInfo(spanOf(irregular));
    EXPECT_EQ(a.versions, (std::vector<std::string>{"FIDO_2_0", "U2F_V2"}));
    EXPECT_EQ(a.versions, b.versions);
    EXPECT_EQ(a.transports, (std::vector<std::string>{"usb"}));
    EXPECT_EQ(a.transports, b.transports);
    EXPECT_EQ(a.option("rk"), true);
    EXPECT_EQ(b.option("rk"), true);
    EXPECT_EQ(a.option("up"), b.option("up"));
    EXPECT_EQ(a.pinUvAuthProtocols, b.pinUvAuthProtocols);
    ASSERT_EQ(a.algorithms.size(), 1u);
    ASSERT_EQ(b.algorithms.size(), 1u);
    EXPECT_EQ(a.algorithms[0].alg, b.algorithms[0].alg);
    EXPECT_EQ(a.algorithms[0].type, b.algorithms[0].type);
    EXPECT_EQ(a.otherMembers, b.otherMembers);
    ASSERT_EQ(a.otherMembers.size(), 1u);
}

TEST(AuthenticatorInfoEncode, MembersInKeyOrderAndTextKeysInCanonicalOrder) {
    AuthenticatorInfo info;
    info.versions = {"FIDO_2_1"};
    info.options = {{"clientPin", true}, {"up", std::nullopt}, {"rk", false}};
    info.maxMsgSize = 1200;
    info.algorithms = {{-7, "pk"}};
    info.certifications = {{"FIDO", 2}};
    info.otherMembers = {{0x20, {0x01}}, {0, {0xF5}}};
    uint8_t buffer[128];
    CborWriter w{buffer, 0, sizeof buffer};
    encodeAuthenticatorInfo(info, w);
    ASSERT_FALSE(w.failed);
    const Bytes written(buffer, buffer + w.length);
    EXPECT_EQ(written,
              (Bytes{
                  0xA7, 0x00, 0xF5,                                              // 0: true
                  0x01, 0x81, 0x68, 'F',  'I', 'D',  'O', '_',  '2', '_', '1',   // 1
                  0x04, 0xA2, 0x62, 'r',  'k', 0xF4,                             // 4: rk
                  0x69, 'c',  'l',  'i',  'e', 'n',  't', 'P',  'i', 'n', 0xF5,  //    clientPin
                  0x05, 0x19, 0x04, 0xB0,                                        // 5: 1200
                  0x0A, 0x81, 0xA2, 0x63, 'a', 'l',  'g', 0x26,                  // 10
                  0x64, 't',  'y',  'p',  'e', 0x62, 'p', 'k',                   //
                  0x13, 0xA1, 0x64, 'F',  'I', 'D',  'O', 0x02,                  // 19
                  0x18, 0x20, 0x01,                                              // 0x20: 1
              }));
    const AuthenticatorInfo read = decodeAuthenticatorInfo(spanOf(written));
    EXPECT_EQ(read.otherMembers, (decltype(info.otherMembers){{0, {0xF5}}, {0x20, {0x01}}}));

    // A number the writer cannot hold fails the reply rather than writing another number.
    info.maxMsgSize = uint64_t{1} << 32;
    CborWriter big{buffer, 0, sizeof buffer};
    encodeAuthenticatorInfo(info, big);
    EXPECT_TRUE(big.failed);
}

}  // namespace
}  // namespace orvanta
