#include "info/vendor_queries.h"

#include <cstring>

#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

// A key scripted by APDU: each request's bytes map to a reply (data + status word).
class VendorQueries : public TransportFixture {
  protected:
    void SetUp() override {
        TransportFixture::SetUp();
        key = connectKey();
        key->onMessage = [this](FakeDevice& dev, uint8_t, const Bytes& apdu) {
            auto it = answers.find(apdu);
            dev.reply(0x83, it == answers.end() ? Bytes{0x6A, 0x82} : it->second);
        };
    }
    static Bytes withStatus(Bytes data, uint16_t sw) {
        data.push_back(static_cast<uint8_t>(sw >> 8));
        data.push_back(static_cast<uint8_t>(sw));
        return data;
    }
    static Bytes versionReply(size_t n, uint8_t a, uint8_t b) {
        Bytes data(n, 0);
        if (n > 9) {
            data[8] = a;
            data[9] = b;
        }
        return data;
    }
    std::map<Bytes, Bytes> answers;
    std::shared_ptr<FakeDevice> key;
    char text[QUERY_TEXT_SIZE] = {};
    const Bytes version = hex("80E28000 05 DFFF028001 00");
    const Bytes u2fSelect = hex("00A40400 08 A0000006472F0001 00");
    const Bytes pivSelect = hex("00A40400 0B A000000308000010000100 00");
    const Bytes identify = hex("00A40400 09 A00000016741300 0FF");
};

TEST_F(VendorQueries, VersionFromBytesEightAndNineAndLengthBoundaries) {
    answers[u2fSelect] = withStatus({}, 0x9000);
    answers[version] = withStatus(versionReply(20, 0x01, 0x0A), 0x9000);
    EXPECT_EQ(queryU2fVersion(session(), text), 0);
    EXPECT_STREQ(text, "010A");

    for (size_t n : {15u, 31u}) {  // too short; over the capacity of 30
        answers[version] = withStatus(versionReply(n, 1, 2), 0x9000);
        std::memset(text, 0, sizeof text);
        EXPECT_EQ(queryU2fVersion(session(), text), 2) << n;
        EXPECT_STREQ(text, "");
    }
    for (size_t n : {16u, 30u}) {  // the status word of the version reply is not looked at
        answers[version] = withStatus(versionReply(n, 5, 6), 0x6D00);
        EXPECT_EQ(queryU2fVersion(session(), text), 0) << n;
        EXPECT_STREQ(text, "0506");
    }
    answers.erase(u2fSelect);
    EXPECT_EQ(queryU2fVersion(session(), text), 1);
}

TEST_F(VendorQueries, PivUsesBytesZeroAndOneOfAShortReplyAndNeedsSuccess) {
    answers[pivSelect] = withStatus({}, 0x9000);
    answers[version] = withStatus({0x05, 0x04, 0x03}, 0x9000);
    EXPECT_EQ(queryPivVersion(session(), text), 0);
    EXPECT_STREQ(text, "0504");
    answers[version] = withStatus(versionReply(16, 1, 2), 0x6D00);
    EXPECT_EQ(queryPivVersion(session(), text), 2);
    answers[version] = withStatus({0x05}, 0x9000);  // no two bytes to show
    EXPECT_EQ(queryPivVersion(session(), text), 2);
}

TEST_F(VendorQueries, IdentifyNeedsSixteenBytesAndSuccess) {
    Bytes sixteen;
    for (uint8_t i = 0; i < 16; ++i) {
        sixteen.push_back(i);
    }
    answers[identify] = withStatus(sixteen, 0x9000);
    EXPECT_EQ(queryIdentify(session(), text), 0);
    EXPECT_STREQ(text, "000102030405060708090A0B0C0D0E0F9000");
    answers[identify] = withStatus(Bytes(15, 1), 0x9000);
    EXPECT_EQ(queryIdentify(session(), text), 2);
    answers[identify] = withStatus(sixteen, 0x6A82);
    EXPECT_EQ(queryIdentify(session(), text), 1);
    answers[identify] = withStatus(Bytes(30, 0xAB), 0x9000);  // the longest text: 64 characters
    EXPECT_EQ(queryIdentify(session(), text), 0);
    EXPECT_EQ(std::strlen(text), 64u);
    answers[identify] = withStatus(Bytes(31, 0xAB), 0x9000);
    EXPECT_NE(queryIdentify(session(), text), 0);
}

TEST_F(VendorQueries, FingerprintNeedsExactlySevenBytes) {
    const Bytes command = hex("80E3000000");
    answers[command] = withStatus({0, 0, 0, 0, 0, 0x02, 0x05}, 0x9000);
    EXPECT_EQ(queryFingerprintVersion(session(), text), 0);
    EXPECT_STREQ(text, "0205");
    answers[command] = withStatus(Bytes(6, 0), 0x9000);
    EXPECT_EQ(queryFingerprintVersion(session(), text), 2);
    answers[command] = withStatus(Bytes(8, 0), 0x9000);
    EXPECT_EQ(queryFingerprintVersion(session(), text), 2);
    answers[command] = withStatus(Bytes(7, 0), 0x6D00);
    EXPECT_EQ(queryFingerprintVersion(session(), text), 1);
}

TEST_F(VendorQueries, VendorAppletsUseTheVendorIdentifierAndSmallCapacity) {
    const Bytes hello = hex("00A40400 0E F04F525641 5268656C6C6F010100 00");
    const Bytes otp = hex("00A40400 09 F04F525641 83260101 00");
    const Bytes gids = hex("00A40400 0B A0000003974254465902 01 00");
    const Bytes ndef = hex("00A40400 07 D2760000850101 00");
    answers[hello] = withStatus({}, 0x9000);
    answers[otp] = withStatus({}, 0x9000);
    answers[gids] = withStatus(Bytes(26, 0), 0x9000);  // more than 25 bytes: counts as absent
    answers[ndef] = withStatus(Bytes(40, 7), 0x9000);
    answers[version] = withStatus(versionReply(16, 0x02, 0x01), 0x9000);
    EXPECT_EQ(queryWinHelloVersion(session(), text), 0);
    EXPECT_STREQ(text, "0201");
    EXPECT_EQ(queryOtpVersion(session(), text), 0);
    EXPECT_EQ(queryGidsVersion(session(), text), 1);
    EXPECT_EQ(queryNdefPresent(session()), 0);
    answers.erase(ndef);
    EXPECT_EQ(queryNdefPresent(session()), 1);
}

}  // namespace
}  // namespace orvanta::test
