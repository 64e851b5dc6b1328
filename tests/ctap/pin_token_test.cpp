#include "ctap/pin_token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "ctap/cbor.h"
#include "ctap/crypto.h"
#include "support/fake_hid.h"
#include "support/p256_test_key.h"
#include "support/scripted_prompts.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

using Message = ScriptedPrompts::Message;

const Bytes GET_KEY_AGREEMENT = {0x06, 0xA2, 0x01, 0x01, 0x02, 0x02};
constexpr size_t GET_PIN_TOKEN_LENGTH = 103;
// Offsets of the variable parts of the getPINToken request.
constexpr size_t PLATFORM_X_AT = 18;
constexpr size_t PLATFORM_Y_AT = 53;
constexpr size_t PIN_HASH_ENC_AT = 87;

Bytes sha256Of(const Bytes& data) {
    Bytes digest(32);
    EXPECT_EQ(sha256(data, std::span<uint8_t, SHA256_LENGTH>(digest)), 0);
    return digest;
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes slice(const Bytes& data, size_t at, size_t length) {
    return Bytes(data.begin() + static_cast<long>(at),
                 data.begin() + static_cast<long>(at + length));
}

// Writes CBOR into a byte vector through the project's writer.
struct CborOut {
    uint8_t buffer[1024] = {};
    CborWriter writer{buffer, 0, sizeof(buffer)};
    Bytes bytes() const { return Bytes(buffer, buffer + writer.length); }
};

// The device side of PIN protocol 1, scripted on a fake HID key: it answers
// getKeyAgreement with its own P-256 key, checks pinHashEnc against its PIN and answers
// getPINToken with its token encrypted under the shared secret. Each part of the reply can
// be bent to test how the platform copes.
struct FakeAuthenticator {
    explicit FakeAuthenticator(std::shared_ptr<FakeDevice> d) : device(std::move(d)) {
        for (size_t i = 0; i < token.size(); ++i) {
            token[i] = static_cast<uint8_t>(0xA0 + i);
        }
        device->onMessage = [this](FakeDevice& dev, uint8_t command, const Bytes& payload) {
            if (command == CTAPHID_CBOR) {
                dev.reply(CTAPHID_CBOR, answer(payload));
            }
        };
    }

    Bytes answer(const Bytes& payload) {
        if (payload == GET_KEY_AGREEMENT) {
            if (keyAgreementStatus != 0) {
                return {keyAgreementStatus};
            }
            return keyAgreementReply();
        }
        if (payload.size() != GET_PIN_TOKEN_LENGTH) {
            return {0x02};
        }
        const std::array<uint8_t, 32> point =
            key.agree(&payload[PLATFORM_X_AT], &payload[PLATFORM_Y_AT]);
        secret = sha256Of(Bytes(point.begin(), point.end()));
        Bytes pinHash(16);
        EXPECT_EQ(aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(secret),
                                std::span(payload).subspan(PIN_HASH_ENC_AT, 16), pinHash),
                  0);
        receivedPinHash = pinHash;
        if (pinTokenStatus != 0) {
            return {pinTokenStatus};
        }
        if (slice(sha256Of(bytesOf(pin)), 0, 16) != pinHash) {
            return {0x31};
        }
        return pinTokenReply();
    }

    Bytes keyAgreementReply() {
        const std::array<uint8_t, 65> pub = key.publicKey();
        Bytes x(pub.begin() + 1, pub.begin() + 33);
        Bytes y(pub.begin() + 33, pub.end());
        if (coordinateLength) {
            x.resize(*coordinateLength, 0x55);
        }
        if (offCurve) {
            y[31] ^= 0x01;
        }
        CborOut out;
        beginMap(out.writer, 1);
        putUnsigned(out.writer, 1);
        beginMap(out.writer, omitX ? 4 : 5);
        putUnsigned(putUnsigned(out.writer, 1), 2);
        putNegative(putUnsigned(out.writer, 3), -25);
        putUnsigned(putNegative(out.writer, -1), 1);
        if (!omitX) {
            putNegative(out.writer, -2);
            if (xAsText) {
                putText(out.writer, std::string(x.begin(), x.end()));
            } else {
                putBytes(out.writer, x.data(), static_cast<uint32_t>(x.size()));
            }
        }
        putBytes(putNegative(out.writer, -3), y.data(), static_cast<uint32_t>(y.size()));
        Bytes reply = {0x00};
        const Bytes cbor = out.bytes();
        reply.insert(reply.end(), cbor.begin(), cbor.end());
        return reply;
    }

    Bytes pinTokenReply() {
        Bytes plain(token.begin(), token.end());
        plain.resize(encryptedTokenLength, 0x77);
        const size_t encryptLength = plain.size() - plain.size() % 16;
        Bytes encrypted(plain.size());
        EXPECT_EQ(aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(secret),
                                std::span(plain).first(encryptLength), encrypted),
                  0);
        std::copy(plain.begin() + static_cast<long>(encryptLength), plain.end(),
                  encrypted.begin() + static_cast<long>(encryptLength));
        CborOut out;
        if (omitToken) {
            beginMap(out.writer, 1);
            putUnsigned(putUnsigned(out.writer, 1), 7);
        } else {
            beginMap(out.writer, 1);
            putBytes(putUnsigned(out.writer, 2), encrypted.data(),
                     static_cast<uint32_t>(encrypted.size()));
        }
        Bytes reply = {0x00};
        Bytes cbor = out.bytes();
        if (truncateTokenTo) {
            cbor.resize(*truncateTokenTo);
        }
        reply.insert(reply.end(), cbor.begin(), cbor.end());
        return reply;
    }

    // The CTAP2 requests the platform sent, in order.
    std::vector<Bytes> cborRequests() const {
        std::vector<Bytes> out;
        for (const auto& [command, payload] : device->requests()) {
            if (command == CTAPHID_CBOR) {
                out.push_back(payload);
            }
        }
        return out;
    }

    std::shared_ptr<FakeDevice> device;
    P256TestKey key{7};
    std::string pin = "1234";
    std::array<uint8_t, 32> token{};
    Bytes secret;
    Bytes receivedPinHash;

    // Ways to bend the replies.
    uint8_t keyAgreementStatus = 0;
    uint8_t pinTokenStatus = 0;
    bool omitX = false;
    bool xAsText = false;
    bool offCurve = false;
    std::optional<size_t> coordinateLength;
    bool omitToken = false;
    size_t encryptedTokenLength = 32;
    std::optional<size_t> truncateTokenTo;  // CBOR bytes of the getPINToken reply kept
};

class PinTokenTest : public TransportFixture {
  protected:
    void SetUp() override {
        TransportFixture::SetUp();
        key.emplace(connectKey());
        std::span<uint8_t> untouched = token.resize(32);
        std::fill(untouched.begin(), untouched.end(), 0xEE);
    }
    int obtain() { return obtainPinToken(session(), prompts, token); }
    Bytes tokenBytes() const { return Bytes(token.bytes().begin(), token.bytes().end()); }
    Bytes deviceToken() const { return Bytes(key->token.begin(), key->token.end()); }
    // A fresh authenticator on the same device, for the next case of a table.
    void renewKey() {
        std::shared_ptr<FakeDevice> device = key->device;
        key.emplace(device);
    }

    std::optional<FakeAuthenticator> key;
    ScriptedPrompts prompts;
    PinToken token;
};

// --- The requests, byte for byte ---

TEST_F(PinTokenTest, RightPinSendsBothRequestsExactlyAndYieldsTheToken) {
    key->pin = "pä1234";
    prompts.enterPin("pä1234");
    ASSERT_EQ(obtain(), 0);
    EXPECT_EQ(tokenBytes(), deviceToken());
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(prompts.pinRequests, 1u);

    const std::vector<Bytes> requests = key->cborRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], GET_KEY_AGREEMENT);

    const Bytes& r = requests[1];
    ASSERT_EQ(r.size(), GET_PIN_TOKEN_LENGTH);
    // Command, map of 4, pinProtocol 1, subCommand 5, keyAgreement: map of 5.
    EXPECT_EQ(slice(r, 0, 8), hex("06 A4 01 01 02 05 03 A5"));
    // kty 2, alg -25, crv 1, x: bytes(32).
    EXPECT_EQ(slice(r, 8, 10), hex("01 02 03 38 18 20 01 21 58 20"));
    // y: bytes(32).
    EXPECT_EQ(slice(r, 50, 3), hex("22 58 20"));
    // pinHashEnc: bytes(16).
    EXPECT_EQ(slice(r, 85, 2), hex("06 50"));
}

TEST_F(PinTokenTest, PinHashIsTakenOverTheUtf8BytesOfThePin) {
    key->pin = "pä1234";
    prompts.enterPin("pä1234");
    ASSERT_EQ(obtain(), 0);
    // p, a-umlaut as C3 A4, 1234.
    const Bytes utf8 = hex("70 C3 A4 31 32 33 34");
    const Bytes latin1 = hex("70 E4 31 32 33 34");
    EXPECT_EQ(key->receivedPinHash, slice(sha256Of(utf8), 0, 16));
    EXPECT_NE(key->receivedPinHash, slice(sha256Of(latin1), 0, 16));
}

TEST_F(PinTokenTest, TwoFetchesUseTwoPlatformKeysAndTwoPinHashEncryptions) {
    ASSERT_EQ(fetchPinToken(session(), "1234", prompts, token), 0);
    const Bytes first = tokenBytes();
    ASSERT_EQ(fetchPinToken(session(), "1234", prompts, token), 0);
    EXPECT_EQ(tokenBytes(), first);

    const std::vector<Bytes> requests = key->cborRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2], GET_KEY_AGREEMENT);
    EXPECT_NE(slice(requests[1], PLATFORM_X_AT, 32), slice(requests[3], PLATFORM_X_AT, 32));
    EXPECT_NE(slice(requests[1], PLATFORM_Y_AT, 32), slice(requests[3], PLATFORM_Y_AT, 32));
    EXPECT_NE(slice(requests[1], PIN_HASH_ENC_AT, 16), slice(requests[3], PIN_HASH_ENC_AT, 16));
}

TEST_F(PinTokenTest, LongerTokenInWholeBlocksIsTakenWhole) {
    key->encryptedTokenLength = 48;
    prompts.enterPin("1234");
    ASSERT_EQ(obtain(), 0);
    Bytes expected = deviceToken();
    expected.resize(48, 0x77);
    EXPECT_EQ(tokenBytes(), expected);
}

// --- What the user sees, and what is sent, when it goes wrong ---

TEST_F(PinTokenTest, EmptyPinIsRefusedBeforeAnythingIsSent) {
    prompts.enterPin("");
    EXPECT_EQ(obtain(), -1);
    EXPECT_EQ(prompts.messages,
              (std::vector<Message>{{"PIN cannot be empty!", MessageIcon::Exclamation}}));
    EXPECT_EQ(prompts.events, std::vector<MessageEvent>{{MessageCode::PinEmpty}});
    EXPECT_TRUE(key->device->requests().empty());
    EXPECT_EQ(key->device->initCount(), 0);
}

TEST_F(PinTokenTest, CancelReturnsTwoSilentlyAndSendsNothing) {
    prompts.cancelPin();
    EXPECT_EQ(obtain(), 2);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(key->device->requests().empty());
    EXPECT_EQ(tokenBytes(), Bytes(32, 0xEE));
}

TEST_F(PinTokenTest, WrongPinShowsPinInvalid) {
    prompts.enterPin("4321");
    EXPECT_EQ(obtain(), 0x31);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"PIN Invalid.", MessageIcon::Error}}));
    EXPECT_EQ(tokenBytes(), Bytes(32, 0xEE));
}

TEST_F(PinTokenTest, StatusOfEitherExchangeIsReturnedAndShown) {
    key->keyAgreementStatus = 0x35;
    prompts.enterPin("1234");
    EXPECT_EQ(obtain(), 0x35);
    EXPECT_EQ(key->cborRequests().size(), 1u);

    key->keyAgreementStatus = 0;
    key->pinTokenStatus = 0x32;
    prompts.enterPin("1234");
    EXPECT_EQ(obtain(), 0x32);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"No PIN has been set.", MessageIcon::Error},
                                                      {"PIN Blocked.", MessageIcon::Error}}));
}

TEST_F(PinTokenTest, TransportFailureShowsUnknownError) {
    key->device->writeResult = -1;
    prompts.enterPin("1234");
    EXPECT_EQ(obtain(), 0xFFFB);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"Unknown Error", MessageIcon::Error}}));
}

TEST_F(PinTokenTest, SilentKeyFailsTheTransportWithoutWaitingForever) {
    key->device->onMessage = nullptr;
    prompts.enterPin("1234");
    EXPECT_EQ(obtain(), 0xFFFB);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"Unknown Error", MessageIcon::Error}}));
}

// A key that answers one part of the PIN steps wrongly: what is wrong, and how to bend the
// key to it.
struct BentKey {
    const char* name;
    void (*bend)(FakeAuthenticator&);
};

TEST_F(PinTokenTest, UnusableKeyAgreementIsACborErrorAndStopsBeforeThePin) {
    const BentKey cases[] = {
        {"x missing", [](FakeAuthenticator& k) { k.omitX = true; }},
        {"x a text string", [](FakeAuthenticator& k) { k.xAsText = true; }},
        {"x of 31 bytes", [](FakeAuthenticator& k) { k.coordinateLength = 31; }},
        {"x of 33 bytes", [](FakeAuthenticator& k) { k.coordinateLength = 33; }},
        {"x of 0 bytes", [](FakeAuthenticator& k) { k.coordinateLength = 0; }},
    };
    for (const BentKey& c : cases) {
        SCOPED_TRACE(c.name);
        renewKey();
        key->device->written.clear();
        c.bend(*key);
        prompts.messages.clear();
        prompts.enterPin("1234");
        EXPECT_EQ(obtain(), 0x12);
        EXPECT_EQ(prompts.messages,
                  (std::vector<Message>{{"Error when parsing CBOR.", MessageIcon::Error}}));
        EXPECT_EQ(key->cborRequests(), std::vector<Bytes>{GET_KEY_AGREEMENT});
    }
}

TEST_F(PinTokenTest, KeyAgreementPointOffTheCurveIsALibraryErrorShownToNoOne) {
    key->offCurve = true;
    prompts.enterPin("1234");
    EXPECT_LT(obtain(), 0);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(key->cborRequests().size(), 1u);
}

TEST_F(PinTokenTest, UnusablePinTokenIsRefusedSilentlyAndLeavesTheBufferAlone) {
    const BentKey cases[] = {
        {"no pinToken", [](FakeAuthenticator& k) { k.omitToken = true; }},
        {"0 bytes", [](FakeAuthenticator& k) { k.encryptedTokenLength = 0; }},
        {"40 bytes", [](FakeAuthenticator& k) { k.encryptedTokenLength = 40; }},
        {"80 bytes", [](FakeAuthenticator& k) { k.encryptedTokenLength = 80; }},
        // Map, key, a 32-byte string header, then only 20 bytes of the string.
        {"cut off", [](FakeAuthenticator& k) { k.truncateTokenTo = 4 + 20; }},
        {"empty reply", [](FakeAuthenticator& k) { k.truncateTokenTo = 0; }},
    };
    for (const BentKey& c : cases) {
        SCOPED_TRACE(c.name);
        renewKey();
        c.bend(*key);
        prompts.messages.clear();
        prompts.enterPin("1234");
        EXPECT_EQ(obtain(), -1);
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_EQ(tokenBytes(), Bytes(32, 0xEE));
    }
}

TEST_F(PinTokenTest, TokensAreTakenAtTheLengthTheKeyChose) {
    // 16 bytes (CTAP 2.0 keys may choose it) and 64, the longest a key may send.
    for (size_t length : {size_t{16}, size_t{64}}) {
        SCOPED_TRACE(length);
        renewKey();
        key->encryptedTokenLength = length;
        prompts.enterPin("1234");
        ASSERT_EQ(obtain(), 0);
        Bytes expected = deviceToken();
        expected.resize(length, 0x77);  // the authenticator pads its 32 bytes with 0x77
        EXPECT_EQ(tokenBytes(), expected);
    }
}

// --- Key agreement alone ---

TEST(DeriveSharedSecret, AgreesWithTheAuthenticatorSide) {
    P256TestKey authenticator(11);
    const std::array<uint8_t, 65> pub = authenticator.publicKey();
    CborOut out;
    beginMap(out.writer, 1);
    putUnsigned(out.writer, 1);
    beginMap(out.writer, 2);
    putBytes(putNegative(out.writer, -2), &pub[1], 32);
    putBytes(putNegative(out.writer, -3), &pub[33], 32);
    const Bytes reply = out.bytes();

    uint8_t secret[32];
    uint8_t x[32];
    uint8_t y[32];
    ASSERT_EQ(deriveSharedSecret(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())},
                                 secret, x, y),
              0);
    const std::array<uint8_t, 32> point = authenticator.agree(x, y);
    EXPECT_EQ(Bytes(secret, secret + 32), sha256Of(Bytes(point.begin(), point.end())));

    // A generator that cannot be seeded is reported like an unusable reply.
    EXPECT_EQ(deriveSharedSecret(CborSpan{reply.data(), static_cast<uint32_t>(reply.size())},
                                 secret, x, y, failingEntropy, nullptr),
              0x12);
    // The coordinates must lie inside the received bytes.
    EXPECT_EQ(deriveSharedSecret(CborSpan{reply.data(), static_cast<uint32_t>(reply.size() - 1)},
                                 secret, x, y),
              0x12);
    EXPECT_EQ(deriveSharedSecret(CborSpan{}, secret, x, y), 0x12);
}

}  // namespace
}  // namespace orvanta::test
