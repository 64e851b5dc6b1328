// The PIN flow end to end: the real transport against a virtual key with a PIN.

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include "ctap/cbor.h"
#include "ctap/crypto.h"
#include "ctap/pin_token.h"
#include "ctap/status_messages.h"
#include "support/scripted_prompts.h"
#include "support/virtual_key_fixture.h"
#include "transport/exchange.h"

namespace orvanta::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Message = ScriptedPrompts::Message;

class PinTokenVirtualKeyTest : public VirtualKeyFixture {
  protected:
    void SetUp() override { key = &plug("pin"); }

    // authenticatorMakeCredential with pinAuth made from the token; returns the key's status.
    uint16_t makeCredentialWith(std::span<const uint8_t> pinToken,
                                PinProtocol protocol = PinProtocol::One) {
        std::array<uint8_t, 32> clientDataHash{};
        clientDataHash.fill(0x5A);
        uint8_t mac[32];
        EXPECT_EQ(pinAuthenticate(protocol, pinToken, clientDataHash, mac), 0);

        uint8_t request[512] = {0x01};
        CborWriter w{request + 1, 0, sizeof(request) - 1};
        beginMap(w, 6);
        putBytes(putUnsigned(w, 1), clientDataHash.data(), 32);
        putUnsigned(w, 2);
        beginMap(w, 1);
        putText(putText(w, "id"), "example.org");
        putUnsigned(w, 3);
        const uint8_t userId[4] = {1, 2, 3, 4};
        beginMap(w, 1);
        putBytes(putText(w, "id"), userId, sizeof(userId));
        putUnsigned(w, 4);
        beginArray(w, 1);
        beginMap(w, 2);
        putNegative(putText(w, "alg"), -7);
        putText(putText(w, "type"), "public-key");
        putBytes(putUnsigned(w, 8), mac, static_cast<uint32_t>(pinAuthLength(protocol)));
        putUnsigned(putUnsigned(w, 9), static_cast<uint32_t>(protocol));
        EXPECT_FALSE(w.failed);

        const Result<CborReply> reply =
            sendCbor(session(), std::span<const uint8_t>(request, w.length + 1));
        if (!reply) {
            ADD_FAILURE() << "the makeCredential exchange failed";
            return TRANSPORT_FAILED;
        }
        return reply->status;
    }

    // The authenticatorClientPIN requests the key received (command byte and CBOR).
    std::vector<Bytes> clientPinRequests() const {
        std::vector<Bytes> out;
        for (const LoggedRequest& r : key->requestLog()) {
            if (r.command == CTAPHID_CBOR && !r.payload.empty() && r.payload[0] == 0x06) {
                out.push_back(r.payload);
            }
        }
        return out;
    }

    VirtualKey* key = nullptr;
    ScriptedPrompts prompts;
    PinToken token;
};

TEST_F(PinTokenVirtualKeyTest, RightPinGivesATokenTheKeyAccepts) {
    prompts.enterPin("1234");
    ASSERT_EQ(obtainPinToken(session(), prompts, token), 0);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(token.size(), PIN_TOKEN_SIZE);
    EXPECT_EQ(makeCredentialWith(token.bytes()), 0x00);

    // The acceptance is the token's doing: a token off by one bit is refused.
    Bytes wrong(token.bytes().begin(), token.bytes().end());
    wrong[0] ^= 0x01;
    EXPECT_EQ(makeCredentialWith(wrong), 0x33);
}

TEST_F(PinTokenVirtualKeyTest, WrongPinShowsPinInvalidAndCostsARetry) {
    const uint8_t retries = key->pinRetries();
    prompts.enterPin("4321");
    EXPECT_EQ(obtainPinToken(session(), prompts, token), 0x31);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"PIN Invalid.", MessageIcon::Error}}));
    EXPECT_EQ(key->pinRetries(), retries - 1);
}

TEST_F(PinTokenVirtualKeyTest, TwoFetchesUseTwoPlatformKeys) {
    PinToken second;
    ASSERT_EQ(fetchPinToken(session(), "1234", prompts, token), 0);
    ASSERT_EQ(fetchPinToken(session(), "1234", prompts, second), 0);

    const std::vector<Bytes> requests = clientPinRequests();
    ASSERT_EQ(requests.size(), 4u);
    ASSERT_EQ(requests[1].size(), 103u);
    ASSERT_EQ(requests[3].size(), 103u);
    // Platform x at 18, y at 53 (command byte included).
    EXPECT_NE(Bytes(requests[1].begin() + 18, requests[1].begin() + 85),
              Bytes(requests[3].begin() + 18, requests[3].begin() + 85));
    // Both tokens work: the key keeps one token until it is power cycled.
    EXPECT_EQ(makeCredentialWith(second.bytes()), 0x00);
}

TEST_F(PinTokenVirtualKeyTest, TokensOfSixteenBytesAreTakenAtTheirLength) {
    // A key that gives 16-byte tokens (CTAP 2.0 lets it): pinAuth keyed by those 16 bytes.
    plug("pin-token16");
    prompts.enterPin("1234");
    ASSERT_EQ(obtainPinToken(session(), prompts, token), 0);
    EXPECT_EQ(token.size(), 16u);
    EXPECT_EQ(makeCredentialWith(token.bytes()), 0x00);

    // A faulty key that sends 16 bytes of the 32 it checks with: taken as sent, refused by
    // the key.
    key = &plug("pin");
    key->setFault(FaultMode::ShortPinToken);
    prompts.enterPin("1234");
    ASSERT_EQ(obtainPinToken(session(), prompts, token), 0);
    EXPECT_EQ(token.size(), 16u);
    EXPECT_EQ(makeCredentialWith(token.bytes()), 0x33);
}

TEST_F(PinTokenVirtualKeyTest, KeysOfProtocolTwoOnlyAreSpokenToInProtocolTwo) {
    key = &plug("pin-protocol2");
    const std::array<uint64_t, 1> listed{2};
    ASSERT_EQ(choosePinProtocol(listed), PinProtocol::Two);
    prompts.enterPin("1234");
    ASSERT_EQ(obtainPinToken(session(), prompts, token, PinProtocol::Two), 0);
    EXPECT_EQ(token.size(), 32u);

    const std::vector<Bytes> requests = clientPinRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (Bytes{0x06, 0xA2, 0x01, 0x02, 0x02, 0x02}));
    const CborSpan getToken{requests[1].data() + 1, static_cast<uint32_t>(requests[1].size() - 1)};
    EXPECT_EQ(readHeader(mapFindInt(getToken, 1)).argument, 2u);
    const uint8_t* pinHashEnc = nullptr;
    uint32_t pinHashEncLength = 0;
    ASSERT_TRUE(readByteString(mapFindInt(getToken, 6), &pinHashEnc, &pinHashEncLength));
    EXPECT_EQ(pinHashEncLength, 32u);  // IV and one block

    // The 32-byte pinUvAuthParam of protocol 2 is accepted; protocol 1's is not spoken.
    EXPECT_EQ(makeCredentialWith(token.bytes(), PinProtocol::Two), 0x00);
    // A CTAP 2.1 key calls a protocol it does not speak an invalid parameter.
    EXPECT_EQ(makeCredentialWith(token.bytes(), PinProtocol::One), 0x02);

    prompts.enterPin("4321");
    EXPECT_EQ(obtainPinToken(session(), prompts, token, PinProtocol::Two), 0x31);
    EXPECT_EQ(prompts.messages.back().text, "PIN Invalid.");
}

TEST_F(PinTokenVirtualKeyTest, MalformedKeyAgreementIsACborError) {
    key->setFault(FaultMode::MalformedCbor);
    prompts.enterPin("1234");
    EXPECT_EQ(obtainPinToken(session(), prompts, token), 0x12);
    EXPECT_EQ(prompts.messages,
              (std::vector<Message>{{"Error when parsing CBOR.", MessageIcon::Error}}));
    EXPECT_EQ(clientPinRequests().size(), 1u);
}

TEST_F(PinTokenVirtualKeyTest, SilentKeyEndsInATransportFailureABusyOneInItsCode) {
    key->setFault(FaultMode::Silence);
    prompts.enterPin("1234");
    EXPECT_EQ(obtainPinToken(session(), prompts, token), 0xFFFB);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"Unknown Error", MessageIcon::Error}}));

    // Another program holds the key: its CTAPHID_ERROR code is the step's status.
    key = &plug("pin");
    key->setFault(FaultMode::ClientPinBusy);
    prompts.messages.clear();
    prompts.enterPin("1234");
    EXPECT_EQ(obtainPinToken(session(), prompts, token), 0x06);
    EXPECT_EQ(prompts.messages, (std::vector<Message>{{"Channel busy.", MessageIcon::Error}}));
}

}  // namespace
}  // namespace orvanta::test
