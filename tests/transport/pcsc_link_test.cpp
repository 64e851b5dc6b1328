// The link to a card, on a scripted card and a manual clock: the APDUs it sends byte for
// byte, how it collects long answers, polls a card that waits for a touch, cancels, and ends
// cleanly on a removed card or answers it cannot use.

#include "transport/pcsc_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/device_session.h"
#include "transport/exchange.h"
#include "transport/nfc_protocol.h"

namespace orvanta::test {
namespace {

const Bytes SELECT_FIDO = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00,
                           0x00, 0x06, 0x47, 0x2F, 0x00, 0x01, 0x00};
const Bytes POLL = {0x80, 0x11, 0x00, 0x00};
const Bytes CANCEL = {0x80, 0x12, 0x01, 0x00};

CardReply answer(Bytes data, uint16_t sw = 0x9000) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw));
    return CardReply{CardFailure::None, std::move(data)};
}

CardReply removed() {
    return CardReply{CardFailure::Removed, {}};
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes pattern(size_t n, uint8_t start = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(start + i);
    }
    return b;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <typename T>
TransportCause causeOf(const Result<T>& result) {
    return result.ok() ? TransportCause::None : result.error().cause;
}

// What the card received and when, and how it answers; shared with the card the link owns.
struct CardScript {
    std::vector<Bytes> received;
    std::vector<uint32_t> receivedAt;
    // Answers everything but the FIDO SELECT, which names selectAnswer.
    std::function<CardReply(const Bytes&)> respond = [](const Bytes&) {
        return answer({}, 0x6D00);
    };
    std::string selectAnswer = "FIDO_2_0";
};

class ScriptedCard final : public CardChannel {
  public:
    ScriptedCard(std::shared_ptr<CardScript> script, Clock& clock)
        : script_(std::move(script)), clock_(clock) {}
    CardReply transmit(std::span<const uint8_t> apdu, const CardCancel&) override {
        Bytes bytes(apdu.begin(), apdu.end());
        script_->received.push_back(bytes);
        script_->receivedAt.push_back(clock_.tickCount());
        if (bytes == SELECT_FIDO) {
            return answer(text(script_->selectAnswer));
        }
        return script_->respond(bytes);
    }

  private:
    std::shared_ptr<CardScript> script_;
    Clock& clock_;
};

// A card that answers every APDU, the SELECT included, by one function.
class FunctionCard final : public CardChannel {
  public:
    explicit FunctionCard(std::function<CardReply(const Bytes&)> f) : f_(std::move(f)) {}
    CardReply transmit(std::span<const uint8_t> apdu, const CardCancel&) override {
        return f_(Bytes(apdu.begin(), apdu.end()));
    }

  private:
    std::function<CardReply(const Bytes&)> f_;
};

class PcscLinkTest : public ::testing::Test {
  protected:
    // Opens a link on the scripted card and a session over it, as the pcsc backend and the
    // enumeration would; the log starts empty after the opening.
    bool open() {
        script->received.clear();
        auto link = std::make_unique<PcscLink>(std::make_unique<ScriptedCard>(script, clock));
        linkView = link.get();
        if (!link->open(&openError)) {
            return false;
        }
        DeviceRecord record;
        record.transport = TransportKind::Card;
        record.usagePage = 0xF1D0;
        record.usage = 1;
        record.path = "pcsc:Test Reader";
        session = std::make_unique<DeviceSession>(record, std::move(link), clock);
        script->received.clear();
        script->receivedAt.clear();
        return true;
    }

    ManualClock clock{1000};
    std::shared_ptr<CardScript> script = std::make_shared<CardScript>();
    PcscLink* linkView = nullptr;
    std::unique_ptr<DeviceSession> session;
    std::string openError;
};

TEST_F(PcscLinkTest, OpeningSelectsTheFidoApplicationAndCtaphidCommandsAreNotEmulated) {
    script->respond = [](const Bytes&) { return answer({}, 0x6D00); };
    ASSERT_TRUE(open());
    EXPECT_TRUE(linkView->ctap2());
    EXPECT_EQ(linkView->versionText(), "FIDO_2_0");

    // A card has no CTAPHID: no INIT facts, and PING or WINK never reach it.
    const uint8_t ping[] = {1, 2, 3};
    EXPECT_EQ(causeOf(exchange(*session, CTAPHID_PING, ping)), TransportCause::Unsupported);
    EXPECT_EQ(causeOf(exchange(*session, CTAPHID_WINK, {})), TransportCause::Unsupported);
    EXPECT_TRUE(script->received.empty());
    EXPECT_FALSE(session->initFacts().has_value());
}

TEST_F(PcscLinkTest, ACardNamingOnlyU2fIsAskedWhetherItSpeaksCtap2) {
    script->selectAnswer = "U2F_V2";
    const Bytes getInfo = {0x80, 0x10, 0x80, 0x00, 0x01, 0x04, 0x00};
    bool ctap2 = true;
    script->respond = [&](const Bytes& apdu) {
        EXPECT_EQ(apdu, getInfo);
        return ctap2 ? answer({0x00, 0xA0}) : answer({}, 0x6D00);
    };
    ASSERT_TRUE(open());
    EXPECT_TRUE(linkView->ctap2());

    ctap2 = false;
    ASSERT_TRUE(open());
    EXPECT_FALSE(linkView->ctap2());
}

TEST_F(PcscLinkTest, OpeningFailsWithTheReason) {
    struct Case {
        std::function<CardReply(const Bytes&)> select;
        const char* reason;
    };
    for (const Case& c :
         {Case{[](const Bytes&) { return answer({}, 0x6A82); }, "the card has no FIDO application"},
          Case{[](const Bytes&) { return removed(); }, "the card was removed"},
          Case{[](const Bytes&) {
                   return CardReply{CardFailure::None, {0x90}};
               },
               "the card does not answer"}}) {
        PcscLink link(std::make_unique<FunctionCard>(c.select));
        std::string reason;
        EXPECT_FALSE(link.open(&reason));
        EXPECT_EQ(reason, c.reason);
    }
}

TEST_F(PcscLinkTest, CtapMessagesGoInShortOrExtendedApdus) {
    script->respond = [](const Bytes& apdu) { return answer({0x00, apdu[4]}); };
    ASSERT_TRUE(open());

    const Bytes small = pattern(10);
    Result<CborReply> reply = sendCbor(*session, small);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x00);
    ASSERT_EQ(script->received.size(), 1u);
    EXPECT_EQ(script->received[0], concat(concat({0x80, 0x10, 0x80, 0x00, 0x0A}, small), {0x00}));

    const Bytes large = pattern(300);
    ASSERT_TRUE(sendCbor(*session, large).ok());
    ASSERT_EQ(script->received.size(), 2u);
    EXPECT_EQ(script->received[1],
              concat(concat({0x80, 0x10, 0x80, 0x00, 0x00, 0x01, 0x2C}, large), {0x00, 0x00}));
}

TEST_F(PcscLinkTest, ACardThatRefusesExtendedApdusGetsChainsOfShortOnes) {
    script->respond = [](const Bytes& apdu) {
        if (apdu[4] == 0x00) {
            return answer({}, 0x6700);  // no extended length
        }
        return answer(apdu[0] == 0x80 ? Bytes{0x00} : Bytes{});
    };
    ASSERT_TRUE(open());
    const Bytes message = pattern(300);
    ASSERT_TRUE(sendCbor(*session, message).ok());
    const Bytes first(message.begin(), message.begin() + 255);
    const Bytes rest(message.begin() + 255, message.end());
    ASSERT_EQ(script->received.size(), 3u);
    EXPECT_EQ(script->received[0][4], 0x00);
    EXPECT_EQ(script->received[1], concat({0x90, 0x10, 0x80, 0x00, 0xFF}, first));
    EXPECT_EQ(script->received[2], concat(concat({0x80, 0x10, 0x80, 0x00, 0x2D}, rest), {0x00}));

    // The link remembers: the next long message is chained at once.
    script->received.clear();
    ASSERT_TRUE(sendCbor(*session, message).ok());
    ASSERT_EQ(script->received.size(), 2u);
    EXPECT_EQ(script->received[0][0], 0x90);
}

TEST_F(PcscLinkTest, AnExtendedApduTheLinkCannotCarryReadsAsWrongLength) {
    script->respond = [](const Bytes& apdu) {
        return apdu[4] == 0x00 ? CardReply{CardFailure::Failed, {}} : answer({0x05});
    };
    ASSERT_TRUE(open());
    Bytes extended = {0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x40};
    extended.resize(extended.size() + 64, 0xAA);
    Result<ApduReply> reply = sendApdu(*session, extended);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x6700);  // the inspector's cue for the short form
    Bytes shortForm = {0x00, 0x01, 0x03, 0x00, 0x40};
    shortForm.resize(shortForm.size() + 64, 0xAA);
    reply = sendApdu(*session, shortForm);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    // The failed exchange left the card's state unknown: FIDO is selected again first.
    ASSERT_EQ(script->received.size(), 3u);
    EXPECT_EQ(script->received[1], SELECT_FIDO);
}

TEST_F(PcscLinkTest, LongAnswersAreCollectedPieceByPiece) {
    const Bytes whole = pattern(288);
    script->respond = [&](const Bytes& apdu) {
        if (apdu[1] == 0x10) {
            return answer(Bytes(whole.begin(), whole.begin() + 256), 0x6120);
        }
        if (apdu[1] == 0xC0) {
            return answer(Bytes(whole.begin() + 256, whole.end()));
        }
        if (apdu[1] == 0xB0 && apdu.size() == 5 && apdu[4] == 0x00) {
            return answer({}, 0x6C03);  // wrong Le: the card has three bytes
        }
        return answer({7, 8, 9});
    };
    ASSERT_TRUE(open());
    Result<CborReply> reply = sendCbor(*session, Bytes{0x04});
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(concat({reply->status}, reply->data), whole);
    ASSERT_EQ(script->received.size(), 2u);
    EXPECT_EQ(script->received[1], Bytes({0x00, 0xC0, 0x00, 0x00, 0x20}));

    script->received.clear();
    const Bytes read = {0x00, 0xB0, 0x00, 0x00, 0x00};
    Result<ApduReply> data = sendApdu(*session, read);
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data->status, 0x9000);
    EXPECT_EQ(data->data, Bytes({7, 8, 9}));
    ASSERT_EQ(script->received.size(), 2u);
    EXPECT_EQ(script->received[1], Bytes({0x00, 0xB0, 0x00, 0x00, 0x03}));
}

TEST_F(PcscLinkTest, WhileTheCardWaitsTheLinkPollsAtItsPaceAndPassesKeepalivesOn) {
    // 40 polls take four seconds, longer than a HID key may keep a reply waiting: a card
    // that waits for the user is polled for as long as the call may last.
    int polls = 0;
    script->respond = [&](const Bytes& apdu) {
        if (apdu == POLL && ++polls > 40) {
            return answer({0x00, 0xA1, 0x01, 0x02});
        }
        return answer({CTAPHID_KEEPALIVE_UPNEEDED}, 0x9100);
    };
    ASSERT_TRUE(open());
    Result<CborReply> reply = sendCbor(*session, Bytes{0x01, 0xA0});
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->data, Bytes({0xA1, 0x01, 0x02}));
    ASSERT_EQ(script->received.size(), 42u);
    for (size_t i = 1; i < script->received.size(); ++i) {
        EXPECT_EQ(script->received[i], POLL);
        EXPECT_GE(script->receivedAt[i] - script->receivedAt[i - 1], NFC_POLL_INTERVAL_MS);
    }

    // A caller of the link itself hears every keepalive with its status.
    polls = 0;
    std::vector<uint8_t> heard;
    const CallOptions options{clock, EXCHANGE_LIMIT_MS, nullptr,
                              [&heard](uint8_t status) { heard.push_back(status); }};
    const uint8_t makeCredential[] = {0x01, 0xA0};
    ASSERT_TRUE(linkView->call(CTAPHID_CBOR, makeCredential, options).ok());
    EXPECT_EQ(heard, std::vector<uint8_t>(41, CTAPHID_KEEPALIVE_UPNEEDED));
}

TEST_F(PcscLinkTest, CancelEndsThePollWithTheNfcCancel) {
    int polls = 0;
    script->respond = [&](const Bytes& apdu) {
        if (apdu == POLL && ++polls == 3) {
            session->requestCancel();
        }
        return apdu == CANCEL ? answer({}) : answer({CTAPHID_KEEPALIVE_UPNEEDED}, 0x9100);
    };
    ASSERT_TRUE(open());
    Result<CborReply> reply = sendCbor(*session, Bytes{0x01, 0xA0});
    EXPECT_EQ(causeOf(reply), TransportCause::Cancelled);
    ASSERT_FALSE(script->received.empty());
    EXPECT_EQ(script->received.back(), CANCEL);
    EXPECT_EQ(polls, 3);
}

TEST_F(PcscLinkTest, AWaitThatRunsOutIsEndedOnTheCardBeforeTheCallReturns) {
    bool waiting = true;
    script->respond = [&](const Bytes& apdu) {
        if (apdu == CANCEL) {
            waiting = false;
            return answer({});
        }
        return waiting ? answer({CTAPHID_KEEPALIVE_PROCESSING}, 0x9100) : answer({0x00, 0x42});
    };
    ASSERT_TRUE(open());
    {
        QuickExchanges quick(*session);  // a key that keeps on processing is stuck
        EXPECT_EQ(causeOf(sendCbor(*session, Bytes{0x0B})), TransportCause::Timeout);
    }
    ASSERT_FALSE(script->received.empty());
    EXPECT_EQ(script->received.back(), CANCEL);
    EXPECT_LE(clock.tickCount() - script->receivedAt.front(), QUICK_EXCHANGE_LIMIT_MS);
    script->received.clear();
    Result<CborReply> reply = sendCbor(*session, Bytes{0x04});
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->data, Bytes({0x42}));
    ASSERT_EQ(script->received.size(), 1u);
}

TEST_F(PcscLinkTest, ARemovedCardFailsTheExchangeAndEveryLaterOne) {
    int polls = 0;
    script->respond = [&](const Bytes& apdu) {
        if (apdu == POLL && ++polls == 2) {
            return removed();
        }
        return answer({CTAPHID_KEEPALIVE_UPNEEDED}, 0x9100);
    };
    ASSERT_TRUE(open());
    EXPECT_EQ(causeOf(sendCbor(*session, Bytes{0x01, 0xA0})), TransportCause::Read);
    EXPECT_TRUE(linkView->removed());
    const size_t sent = script->received.size();
    const Bytes version = {0x00, 0x03, 0x00, 0x00};
    EXPECT_FALSE(sendApdu(*session, version).ok());
    EXPECT_EQ(script->received.size(), sent);
}

TEST_F(PcscLinkTest, AnswersTheLinkCannotUseEndTheExchangeCleanly) {
    struct Case {
        const char* what;
        std::function<CardReply(const Bytes&)> respond;
        bool cbor;
        TransportCause cause;
    };
    const std::vector<Case> cases = {
        {"no status word",
         [](const Bytes&) {
             return CardReply{CardFailure::None, {0x90}};
         },
         true, TransportCause::Read},
        {"endless 61xx pieces", [](const Bytes&) { return answer(pattern(16), 0x6110); }, true,
         TransportCause::Read},
        {"more than a message carries", [](const Bytes&) { return answer(pattern(7700)); }, false,
         TransportCause::Read},
        {"more than a reply may hold", [](const Bytes&) { return answer(pattern(5000)); }, false,
         TransportCause::Framing},
        {"success without a CTAP status byte", [](const Bytes&) { return answer({}); }, true,
         TransportCause::ShortReply},
        {"a link failure",
         [](const Bytes&) {
             return CardReply{CardFailure::Failed, {}};
         },
         false, TransportCause::Read},
        {"an unknown status word to CTAP", [](const Bytes&) { return answer({}, 0x6F42); }, true,
         TransportCause::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script->respond = c.respond;
        ASSERT_TRUE(open());
        const Bytes request = {0x00, 0x01, 0x03, 0x00};
        const TransportCause cause = c.cbor ? causeOf(sendCbor(*session, Bytes{0x04}))
                                            : causeOf(sendApdu(*session, request));
        EXPECT_EQ(cause, c.cause);
        // Never more than the GET RESPONSEs allowed, a SELECT and the command.
        EXPECT_LE(script->received.size(), NFC_MAX_GET_RESPONSES + 2);
    }
    // An unknown status word to an APDU is the APDU's answer, for the inspector to judge.
    script->respond = [](const Bytes&) { return answer({5}, 0x6F42); };
    ASSERT_TRUE(open());
    const Bytes apdu = {0x80, 0xE3, 0x00, 0x00, 0x00};
    Result<ApduReply> reply = sendApdu(*session, apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x6F42);
    EXPECT_EQ(reply->data, Bytes({5}));
}

TEST_F(PcscLinkTest, U2fAndCtapCommandsSelectTheFidoApplicationAgainAfterAnotherApplet) {
    script->respond = [](const Bytes& apdu) {
        return apdu[1] == 0x10 ? answer({0x00}) : answer({});
    };
    ASSERT_TRUE(open());
    const Bytes selectPiv = {0x00, 0xA4, 0x04, 0x00, 0x05, 0xA0, 0x00, 0x00, 0x03, 0x08, 0x00};
    const Bytes version = {0x80, 0xE2, 0x80, 0x00, 0x00};
    const Bytes u2fVersion = {0x00, 0x03, 0x00, 0x00};
    for (const Bytes& apdu : {selectPiv, version, u2fVersion, selectPiv}) {
        ASSERT_TRUE(sendApdu(*session, apdu).ok());
    }
    ASSERT_TRUE(sendCbor(*session, Bytes{0x04}).ok());
    // The applet's own command goes to it as it is; U2F and CTAP2 go to the FIDO
    // application, selected again first.
    const std::vector<Bytes> expected = {selectPiv,
                                         version,
                                         SELECT_FIDO,
                                         u2fVersion,
                                         selectPiv,
                                         SELECT_FIDO,
                                         {0x80, 0x10, 0x80, 0x00, 0x01, 0x04, 0x00}};
    EXPECT_EQ(script->received, expected);
}

}  // namespace
}  // namespace orvanta::test
