// The CTAP2 side of the virtual key as the inspector uses it: getInfo per profile, the PIN
// protocol 1 exchanges, and makeCredential with packed attestation and PIN rules.

#include <cstring>

#include "ctap/cbor.h"
#include "sim/cbor_out.h"
#include "sim/sim_crypto.h"
#include "sim_fixture.h"
#include "x509_check.h"

namespace orvanta::test {
namespace {

const Bytes CLIENT_DATA_HASH(32, 0x68);

CborSpan spanOf(const Bytes& reply) {
    return reply.size() > 1 ? CborSpan{reply.data() + 1, static_cast<uint32_t>(reply.size() - 1)}
                            : CborSpan{};
}

Bytes byteString(CborSpan span) {
    const uint8_t* p = nullptr;
    uint32_t n = 0;
    if (!readByteString(span, &p, &n)) {
        return {};
    }
    return Bytes(p, p + n);
}

// The inspector's makeCredential, optionally with pinAuth and pinProtocol 1.
Bytes makeCredential(const Bytes* pinAuth) {
    CborOut out;
    beginMap(out.w, pinAuth ? 6 : 4);
    out.integer(1).bytes(CLIENT_DATA_HASH);
    out.integer(2);
    beginMap(out.w, 2);
    out.text("id").text("tessmar").text("name").text("tessmar");
    out.integer(3);
    beginMap(out.w, 3);
    out.text("id").bytes(Bytes(32, 0x01)).text("name").text("tester@tessmar.io");
    out.text("displayName").text("Test Ctap");
    out.integer(4);
    beginArray(out.w, 1);
    beginMap(out.w, 2);
    out.text("alg").integer(-7).text("type").text("public-key");
    if (pinAuth) {
        out.integer(8).bytes(*pinAuth);
        out.integer(9).integer(1);
    }
    Bytes request = {0x01};
    const Bytes body = out.bytes();
    request.insert(request.end(), body.begin(), body.end());
    return request;
}

// Platform side of PIN protocol 1, built on the simulator's own primitives.
class Platform {
  public:
    explicit Platform(SimClient& c) : client_(c), drbg_("test-platform") {}

    // getKeyAgreement and the shared secret; false when the key's answer is unusable.
    bool agree() {
        const Bytes reply = client_.cbor({0x06, 0xA2, 0x01, 0x01, 0x02, 0x02});
        if (reply.empty() || reply[0] != 0) {
            return false;
        }
        const CborSpan cose = mapFindInt(spanOf(reply), 1);
        const Bytes x = byteString(mapFindInt(cose, -2));
        const Bytes y = byteString(mapFindInt(cose, -3));
        if (x.size() != 32 || y.size() != 32 || !key_.generate(drbg_)) {
            return false;
        }
        return key_.sharedSecret(x.data(), y.data(), shared_, drbg_);
    }

    void putKeyAgreement(CborOut& out) {
        const auto p = key_.publicPoint();
        beginMap(out.w, 5);
        out.integer(1).integer(2).integer(3).integer(-25).integer(-1).integer(1);
        out.integer(-2).bytes(Bytes(p.begin() + 1, p.begin() + 33));
        out.integer(-3).bytes(Bytes(p.begin() + 33, p.end()));
    }

    // Returns the status; the decrypted token in `token` on success.
    uint8_t pinToken(const std::string& pin, Bytes& token) {
        if (!agree()) {
            return 0xFF;
        }
        const Sha256Digest h = sha256Of(reinterpret_cast<const uint8_t*>(pin.data()), pin.size());
        uint8_t enc[16];
        aes256CbcEncrypt(shared_.data(), h.data(), 16, enc);
        CborOut out;
        beginMap(out.w, 4);
        out.integer(1).integer(1).integer(2).integer(5).integer(3);
        putKeyAgreement(out);
        out.integer(6).bytes(Bytes(enc, enc + 16));
        Bytes request = {0x06};
        const Bytes body = out.bytes();
        request.insert(request.end(), body.begin(), body.end());
        const Bytes reply = client_.cbor(request);
        if (reply.empty() || reply[0] != 0) {
            return reply.empty() ? 0xFF : reply[0];
        }
        const Bytes encrypted = byteString(mapFindInt(spanOf(reply), 2));
        token.assign(encrypted.size(), 0);
        aes256CbcDecrypt(shared_.data(), encrypted.data(), encrypted.size(), token.data());
        return 0;
    }

    uint8_t setPin(const std::string& pin) {
        if (!agree()) {
            return 0xFF;
        }
        uint8_t padded[64] = {};
        std::memcpy(padded, pin.data(), pin.size());
        uint8_t enc[64];
        aes256CbcEncrypt(shared_.data(), padded, 64, enc);
        const Sha256Digest mac = hmacSha256Of(shared_.data(), 32, enc, 64);
        CborOut out;
        beginMap(out.w, 5);
        out.integer(1).integer(1).integer(2).integer(3).integer(3);
        putKeyAgreement(out);
        out.integer(4).bytes(Bytes(mac.begin(), mac.begin() + 16));
        out.integer(5).bytes(Bytes(enc, enc + 64));
        Bytes request = {0x06};
        const Bytes body = out.bytes();
        request.insert(request.end(), body.begin(), body.end());
        const Bytes reply = client_.cbor(request);
        return reply.empty() ? 0xFF : reply[0];
    }

    uint32_t retries() {
        const Bytes reply = client_.cbor({0x06, 0xA2, 0x01, 0x01, 0x02, 0x01});
        return readHeader(mapFindInt(spanOf(reply), 3)).argument;
    }

  private:
    SimClient& client_;
    SeededDrbg drbg_;
    SimKeyPair key_;
    Sha256Digest shared_{};
};

Bytes pinAuthFor(const Bytes& token) {
    const Sha256Digest mac = hmacSha256Of(token.data(), token.size(), CLIENT_DATA_HASH.data(), 32);
    return Bytes(mac.begin(), mac.begin() + 16);
}

class Ctap2Test : public SimTest {};

TEST_F(Ctap2Test, GetInfoMembersFollowTheProfile) {
    struct Case {
        const char* profile;
        std::vector<int> keys;
    } cases[] = {
        {"ctap20", {1, 3, 4, 5, 6, 9}},
        {"default", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14}},
        {"full", {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                  17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
    };
    for (const Case& k : cases) {
        SimClient& c = connect(k.profile);
        const Bytes reply = c.cbor({0x04});
        ASSERT_FALSE(reply.empty());
        ASSERT_EQ(reply[0], 0);
        const CborSpan info = spanOf(reply);
        EXPECT_EQ(itemLength(info), info.length) << k.profile;  // one complete map
        EXPECT_EQ(readHeader(info).argument, k.keys.size()) << k.profile;
        for (int key = 1; key <= 32; ++key) {
            const bool expected = std::find(k.keys.begin(), k.keys.end(), key) != k.keys.end();
            EXPECT_EQ(mapFindInt(info, key).found(), expected) << k.profile << " key " << key;
        }
        EXPECT_EQ(readHeader(mapFindText(mapFindInt(info, 4), "clientPin")).additionalInfo, 20);
    }
    SimClient& full = connect("full");
    const Bytes reply = full.cbor({0x04});
    EXPECT_EQ(readHeader(mapFindInt(spanOf(reply), 4)).argument, 19u);  // every option
}

TEST_F(Ctap2Test, PinProfileReportsClientPinAndRetries) {
    SimClient& c = connect("pin");
    const Bytes reply = c.cbor({0x04});
    EXPECT_EQ(readHeader(mapFindText(mapFindInt(spanOf(reply), 4), "clientPin")).additionalInfo,
              21);
    Platform platform(c);
    EXPECT_EQ(platform.retries(), 8u);
}

TEST_F(Ctap2Test, KeyAgreementIsACoseP256Key) {
    SimClient& c = connect("pin");
    const Bytes reply = c.cbor({0x06, 0xA2, 0x01, 0x01, 0x02, 0x02});
    ASSERT_EQ(reply[0], 0);
    const CborSpan cose = mapFindInt(spanOf(reply), 1);
    EXPECT_EQ(readHeader(cose).argument, 5u);
    EXPECT_EQ(readHeader(mapFindInt(cose, 1)).argument, 2u);
    const CborHeader alg = readHeader(mapFindInt(cose, 3));
    EXPECT_EQ(alg.majorType, 1);
    EXPECT_EQ(alg.argument, 24u);  // -25
    EXPECT_EQ(readHeader(mapFindInt(cose, -1)).argument, 1u);
    EXPECT_EQ(byteString(mapFindInt(cose, -2)).size(), 32u);
    EXPECT_EQ(byteString(mapFindInt(cose, -3)).size(), 32u);
}

TEST_F(Ctap2Test, RightPinGivesTokenWhosePinAuthMakesAVerifiedCredential) {
    SimClient& c = connect("pin");
    Platform platform(c);
    Bytes token;
    ASSERT_EQ(platform.pinToken("1234", token), 0);
    ASSERT_EQ(token.size(), 32u);

    const Bytes pinAuth = pinAuthFor(token);
    const Bytes request = makeCredential(&pinAuth);
    EXPECT_EQ(request.size(), 191u);  // the inspector's request with a PIN
    const Bytes reply = c.cbor(request);
    ASSERT_FALSE(reply.empty());
    ASSERT_EQ(reply[0], 0);
    const Bytes authData = byteString(mapFindInt(spanOf(reply), 2));
    ASSERT_GT(authData.size(), 37u);
    EXPECT_EQ(authData[32], 0x45);  // UP, UV, AT
    EXPECT_EQ(keys[0]->requestLog().back().bytes(), [&] {
        Bytes b = {0x90};
        b.insert(b.end(), request.begin(), request.end());
        return b;
    }());
}

TEST_F(Ctap2Test, PinRulesOfMakeCredential) {
    SimClient& c = connect("pin");
    EXPECT_EQ(c.cbor(makeCredential(nullptr)), Bytes{0x36});  // PIN required
    const Bytes wrong(16, 0x00);
    EXPECT_EQ(c.cbor(makeCredential(&wrong)), Bytes{0x33});  // PIN auth invalid
    SimClient& d = connect("default");
    EXPECT_EQ(d.cbor(makeCredential(&wrong)), Bytes{0x35});  // no PIN to check against
}

TEST_F(Ctap2Test, WrongPinsCountDownAndBlock) {
    SimClient& c = connect("pin");
    Platform platform(c);
    Bytes token;
    EXPECT_EQ(platform.pinToken("0000", token), 0x31);
    EXPECT_EQ(platform.pinToken("0000", token), 0x31);
    EXPECT_EQ(platform.pinToken("0000", token), 0x34);  // three in a row: power cycle needed
    EXPECT_EQ(platform.pinToken("1234", token), 0x34);
    EXPECT_EQ(keys[0]->pinRetries(), 5);
    keys[0]->powerCycle();
    c.init();
    EXPECT_EQ(platform.pinToken("1234", token), 0);  // the right PIN resets the count
    EXPECT_EQ(keys[0]->pinRetries(), 8);
    for (int i = 0; i < 7; ++i) {
        if (i % 3 == 2) {
            keys[0]->powerCycle();
            c.init();
        }
        platform.pinToken("0000", token);
    }
    keys[0]->powerCycle();
    c.init();
    EXPECT_EQ(platform.pinToken("0000", token), 0x32);  // the last retry
    EXPECT_EQ(keys[0]->pinRetries(), 0);
    EXPECT_EQ(platform.pinToken("1234", token), 0x32);
}

TEST_F(Ctap2Test, SetPinThenToken) {
    SimClient& c = connect("default");
    Platform platform(c);
    Bytes token;
    EXPECT_EQ(platform.pinToken("4321", token), 0x35);  // not set yet
    EXPECT_EQ(platform.setPin("12"), 0x37);             // too short
    EXPECT_EQ(platform.setPin("4321"), 0);
    EXPECT_TRUE(keys[0]->pinSet());
    EXPECT_EQ(platform.setPin("5555"), 0x33);  // already set
    EXPECT_EQ(platform.pinToken("4321", token), 0);
    EXPECT_EQ(token.size(), 32u);
}

TEST_F(Ctap2Test, PackedAttestationVerifiesAndCarriesTheChain) {
    SimClient& c = connect("default");
    const Bytes request = makeCredential(nullptr);
    EXPECT_EQ(request.size(), 171u);  // the inspector's request without a PIN
    const Bytes reply = c.cbor(request);
    ASSERT_FALSE(reply.empty());
    ASSERT_EQ(reply[0], 0);
    const CborSpan obj = spanOf(reply);
    std::string_view fmt;
    ASSERT_TRUE(readTextString(mapFindInt(obj, 1), &fmt));
    EXPECT_EQ(fmt, "packed");
    const Bytes authData = byteString(mapFindInt(obj, 2));
    const CborSpan stmt = mapFindInt(obj, 3);
    const Bytes sig = byteString(mapFindText(stmt, "sig"));
    const Bytes leaf = byteString(arrayAt(mapFindText(stmt, "x5c"), 0));
    const Bytes ca = byteString(arrayAt(mapFindText(stmt, "x5c"), 1));
    EXPECT_EQ(readHeader(mapFindText(stmt, "x5c")).argument, 2u);

    const Sha256Digest rpIdHash = sha256Of(reinterpret_cast<const uint8_t*>("tessmar"), 7);
    ASSERT_GE(authData.size(), 55u);
    EXPECT_TRUE(std::equal(rpIdHash.begin(), rpIdHash.end(), authData.begin()));
    EXPECT_EQ(authData[32], 0x41);  // UP and AT
    EXPECT_EQ(Bytes(authData.begin() + 33, authData.begin() + 37), (Bytes{0, 0, 0, 1}));
    const auto& aaguid = keys[0]->profile().aaguid;
    EXPECT_TRUE(std::equal(aaguid.begin(), aaguid.end(), authData.begin() + 37));
    const size_t idLength = static_cast<size_t>(authData[53] << 8 | authData[54]);
    const CborSpan cose{authData.data() + 55 + idLength,
                        static_cast<uint32_t>(authData.size() - 55 - idLength)};
    EXPECT_EQ(itemLength(cose), cose.length);  // the COSE key ends authData
    EXPECT_EQ(byteString(mapFindInt(cose, -2)).size(), 32u);

    Bytes signedData = authData;
    signedData.insert(signedData.end(), CLIENT_DATA_HASH.begin(), CLIENT_DATA_HASH.end());
    EXPECT_TRUE(signatureVerifies(leaf, signedData, sig));
    EXPECT_TRUE(issuedBy(leaf, ca));

    // The counter moves on with every credential.
    const Bytes again = c.cbor(request);
    EXPECT_EQ(byteString(mapFindInt(spanOf(again), 2))[36], 2);
}

TEST_F(Ctap2Test, MalformedRequestsGetClearStatuses) {
    SimClient& c = connect("default");
    EXPECT_EQ(c.cbor({0x01, 0xA0}), Bytes{0x14});  // empty map
    EXPECT_EQ(c.cbor({0x01, 0x80}), Bytes{0x11});  // not a map
    EXPECT_EQ(c.cbor({0x06, 0xA1, 0x01, 0x01}), Bytes{0x14});
    EXPECT_EQ(c.cbor({0x06, 0xA2, 0x01, 0x02, 0x02, 0x02}), Bytes{0x02});  // protocol 2
    EXPECT_EQ(c.cbor({0x06, 0xA2, 0x01, 0x01, 0x02, 0x07}), Bytes{0x3E});
    EXPECT_EQ(c.cbor({0x42}), Bytes{0x01});
    EXPECT_EQ(c.cbor({}), Bytes{0x03});
    // A byte string that claims more than was sent is not read past.
    EXPECT_EQ(c.cbor({0x01, 0xA1, 0x01, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF}), Bytes{0x14});
}

}  // namespace
}  // namespace orvanta::test
