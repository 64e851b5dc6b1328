#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "info/device_context.h"
#include "support/transport_fixture.h"

namespace orvanta::test {
namespace {

using Ctaphid = TransportFixture;

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i + 1);
    }
    return b;
}

// The transport cause of a failed exchange; None when it succeeded or failed otherwise.
template <typename T>
TransportCause causeOf(const Result<T>& result) {
    if (result.ok() || !result.error().isTransport()) {
        return TransportCause::None;
    }
    return result.error().cause;
}

std::array<uint8_t, 4> channelOf(const FakeDevice& d) {
    return {d.channel[0], d.channel[1], d.channel[2], d.channel[3]};
}

// Output reports of the request (INIT excluded).
std::vector<Bytes> requestReports(const FakeDevice& d) {
    std::vector<Bytes> out;
    for (const Bytes& r : d.written) {
        if (!(r[5] == 0x86 && r[1] == 0xFF)) {
            out.push_back(r);
        }
    }
    return out;
}

TEST_F(Ctaphid, RequestSplitsAt57And59Bytes) {
    auto d = connectKey();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x83, {0x90, 0x00}); };
    struct Case {
        size_t length;
        std::vector<std::pair<int, size_t>> packets;  // (sequence or -1 for init, data bytes)
    };
    for (const Case& c :
         {Case{57, {{-1, 57}}}, Case{58, {{-1, 57}, {0, 1}}}, Case{116, {{-1, 57}, {0, 59}}},
          Case{200, {{-1, 57}, {0, 59}, {1, 59}, {2, 25}}}}) {
        d->written.clear();
        Bytes request = pattern(c.length);
        Result<Bytes> reply = exchange(session(), CTAPHID_MSG, request);
        ASSERT_TRUE(reply.ok()) << c.length;
        EXPECT_EQ(*reply, (Bytes{0x90, 0x00}));
        auto reports = requestReports(*d);
        ASSERT_EQ(reports.size(), c.packets.size()) << c.length;
        size_t offset = 0;
        for (size_t i = 0; i < reports.size(); ++i) {
            const Bytes& r = reports[i];
            EXPECT_EQ(r.size(), 65u);
            EXPECT_EQ(r[0], 0);
            EXPECT_EQ(0, std::memcmp(&r[1], d->channel, 4));
            size_t data = c.packets[i].second;
            if (c.packets[i].first < 0) {
                EXPECT_EQ(r[5], 0x83);
                EXPECT_EQ((r[6] << 8) | r[7], static_cast<int>(c.length));
                EXPECT_EQ(0, std::memcmp(&r[8], request.data() + offset, data));
            } else {
                EXPECT_EQ(r[5], c.packets[i].first);
                EXPECT_EQ(0, std::memcmp(&r[6], request.data() + offset, data));
            }
            offset += data;
        }
        EXPECT_EQ(offset, c.length);
    }
}

TEST_F(Ctaphid, ReassemblesA200ByteReplyFromFourReports) {
    auto d = connectKey();
    Bytes payload = pattern(200);
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x90, payload); };
    size_t before = d->input.size();
    const uint8_t request[] = {0x04};
    Result<Bytes> reply = exchange(session(), CTAPHID_CBOR, request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(reply->size(), 200u);
    EXPECT_EQ(*reply, payload);
}

TEST_F(Ctaphid, SkipsKeepalivesZeroLengthAndOtherChannels) {
    auto d = connectKey();
    const uint8_t other[4] = {9, 9, 9, 9};
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.keepalive();
        dev.raw(dev.channel, {0x90, 0x00, 0x00});  // zero BCNT
        dev.raw(other, {0x90, 0x00, 0x02, 0xEE, 0xEE});
        dev.reply(0x90, {0x00, 0xA0});
    };
    const uint8_t request[] = {0x04};
    Result<Bytes> reply = exchange(session(), CTAPHID_CBOR, request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(*reply, (Bytes{0x00, 0xA0}));

    // A caller of the link itself hears the keepalive and its status.
    std::vector<uint8_t> heard;
    const CallOptions options{clock, EXCHANGE_LIMIT_MS, nullptr,
                              [&heard](uint8_t status) { heard.push_back(status); }};
    ASSERT_TRUE(session().link()->call(CTAPHID_CBOR, request, options).ok());
    EXPECT_EQ(heard, std::vector<uint8_t>{CTAPHID_KEEPALIVE_UPNEEDED});
}

TEST_F(Ctaphid, ContinuationOfAnotherChannelIsSkippedOutOfSequenceFails) {
    auto d = connectKey();
    const uint8_t other[4] = {9, 9, 9, 9};
    Bytes payload = pattern(100);
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.reply(0x90, payload);
        Bytes cont = dev.input.back();
        dev.input.pop_back();
        dev.raw(other, {0x00, 0xEE});
        dev.input.push_back(cont);
    };
    const uint8_t request[] = {0x04};
    Result<Bytes> reply = exchange(session(), CTAPHID_CBOR, request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(*reply, payload);

    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.reply(0x90, payload);
        dev.input.back()[5] = 1;  // sequence 1 where 0 is due
    };
    Result<Bytes> broken = exchange(session(), CTAPHID_CBOR, request);
    EXPECT_FALSE(broken.ok());
    EXPECT_EQ(causeOf(broken), TransportCause::Framing);
}

TEST_F(Ctaphid, InitOnlyOnFirstExchangeAfterSelection) {
    auto d = connectKey();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x83, {0x90, 0x00}); };
    const uint8_t apdu[] = {0x00, 0xA4, 0x04, 0x00};
    EXPECT_TRUE(channelPending(session()));
    for (int i = 0; i < 2; ++i) {
        Result<ApduReply> reply = sendApdu(session(), apdu);
        ASSERT_TRUE(reply.ok());
        EXPECT_EQ(reply->status, 0x9000);
    }
    ASSERT_EQ(d->initCount(), 1);
    const Bytes& init = d->written[0];
    EXPECT_EQ(init[5], 0x86);
    EXPECT_EQ(init[7], 8);
    EXPECT_EQ(hidLink(session()).channel(), channelOf(*d));
    EXPECT_FALSE(channelPending(session()));

    // A new selection is a new session on a fresh handle: it needs a channel of its own.
    devices.enumerate();
    ASSERT_EQ(devices.select(0, 0), 1);
    EXPECT_TRUE(channelPending(session()));
    Result<ApduReply> reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    EXPECT_EQ(d->initCount(), 2);

    // So does a session told to start afresh.
    session().link()->reset();
    reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    EXPECT_EQ(d->initCount(), 3);
}

TEST_F(Ctaphid, InitReplyMustEchoOurNonce) {
    auto d = connectKey();
    d->autoInit = false;
    const uint8_t broadcast[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    // A reply to somebody else's INIT, then silence: the channel is never taken from it.
    d->reply(0x86, hex("0102030405060708 55667788 0201000005"), broadcast);
    const uint8_t apdu[] = {0x00};
    Result<ApduReply> reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::NoChannel);
    EXPECT_NE(hidLink(session()).channel()[0], 0x55);

    // Our own INIT reply that hands out the broadcast or the zero channel gives no channel.
    d->autoInit = true;
    for (uint8_t fill : {uint8_t{0xFF}, uint8_t{0x00}}) {
        std::fill(std::begin(d->channel), std::end(d->channel), fill);
        session().link()->reset();
        reply = sendApdu(session(), apdu);
        EXPECT_FALSE(reply.ok());
        EXPECT_EQ(causeOf(reply), TransportCause::NoChannel);
    }
}

TEST_F(Ctaphid, SilentDeviceFailsWithinTheBound) {
    auto d = connectKey();
    const uint8_t apdu[] = {0x00};
    // INIT unanswered: no channel.
    d->autoInit = false;
    uint32_t start = clock.tickCount();
    Result<ApduReply> reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::NoChannel);
    EXPECT_LE(clock.tickCount() - start, REPORT_WAIT_MS);
    EXPECT_GE(clock.tickCount() - start, REPORT_WAIT_MS);

    // INIT answered, the request not.
    d->autoInit = true;
    session().link()->reset();
    start = clock.tickCount();
    reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Timeout);
    EXPECT_EQ(d->requests().size(), 1u);
    EXPECT_LE(clock.tickCount() - start, REPORT_WAIT_MS);
    EXPECT_GE(clock.tickCount() - start, REPORT_WAIT_MS);

    // Keepalives keep the wait going, but not beyond the exchange limit.
    session().link()->reset();
    d->delayPerReport = 100;
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        for (int i = 0; i < 2000; ++i) {  // 200 s of "waiting for touch"
            dev.keepalive();
        }
    };
    start = clock.tickCount();
    reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Timeout);
    EXPECT_GE(clock.tickCount() - start, EXCHANGE_LIMIT_MS);
    EXPECT_LE(clock.tickCount() - start, EXCHANGE_LIMIT_MS + 200);

    // A touch after 5 s of keepalives still gets its reply.
    session().link()->reset();
    d->input.clear();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        for (int i = 0; i < 50; ++i) {
            dev.keepalive();
        }
        dev.reply(0x83, {0x90, 0x00});
    };
    reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
}

TEST_F(Ctaphid, OversizedReplyAndOddReportLengthsFail) {
    auto d = connectKey();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.raw(dev.channel, {0x90, 0x10, 0x01, 0x00});  // BCNT 4097
    };
    const uint8_t request[] = {0x04};
    Result<Bytes> reply = exchange(session(), CTAPHID_CBOR, request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Framing);

    d->input.clear();
    d->outputLength = 129;  // longer than the report buffer
    const size_t writtenBefore = d->written.size();
    reply = exchange(session(), CTAPHID_CBOR, request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Framing);
    EXPECT_EQ(d->written.size(), writtenBefore);  // refused before anything is written
    d->outputLength = 65;
    d->writeResult = 64;  // short write
    reply = exchange(session(), CTAPHID_CBOR, request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Write);
}

TEST_F(Ctaphid, SendApduResults) {
    auto d = connectKey();
    Bytes next;
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x83, next); };
    const uint8_t apdu[] = {0x00, 0x01};

    // The status word alone: no data.
    next = {0x90, 0x00};
    Result<ApduReply> reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    EXPECT_TRUE(reply->data.empty());

    // Data before the status word: every byte of it, without the status word.
    next = pattern(20);
    next.push_back(0x90);
    next.push_back(0x00);
    reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    EXPECT_EQ(reply->data.size(), 20u);
    EXPECT_EQ(reply->data, pattern(20));

    next = {0x6A, 0x82};
    reply = sendApdu(session(), apdu);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x6A82);
    EXPECT_TRUE(reply->data.empty());

    // A CTAPHID_ERROR reply ends the exchange with the key's error code.
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0xBF, {0x06}); };
    reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::KeyError);
    EXPECT_EQ(reply.error().code, 0x06);

    // A one-byte reply under the request's command has no status word.
    d->onMessage = [](FakeDevice& dev, uint8_t command, const Bytes&) { dev.reply(command, {6}); };
    reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::ShortReply);

    // The request goes out under CTAPHID_MSG unless the caller names another command.
    EXPECT_EQ(d->requests().back().first, CTAPHID_MSG);
    d->onMessage = [](FakeDevice& dev, uint8_t command, const Bytes&) {
        dev.reply(command, {0x90, 0x00});
    };
    reply = sendApdu(session(), apdu, CTAPHID_CBOR);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x9000);
    EXPECT_EQ(d->requests().back().first, CTAPHID_CBOR);
}

TEST_F(Ctaphid, SendCborResults) {
    auto d = connectKey();
    Bytes next;
    uint8_t cmd = 0x90;
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(cmd, next); };
    const uint8_t request[] = {0x04};

    // The status byte, then the CBOR after it.
    next = {0x00, 0xA1, 0x01, 0x02};
    Result<CborReply> reply = sendCbor(session(), request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0);
    EXPECT_EQ(reply->data, hex("A10102"));

    // A status byte alone: no CBOR.
    next = {0x31};
    reply = sendCbor(session(), request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x31);
    EXPECT_TRUE(reply->data.empty());

    // The code of a CTAPHID_ERROR reply is the status: its CTAP2 namesake means the same.
    cmd = 0xBF;
    next = {0x0B};
    reply = sendCbor(session(), request);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->status, 0x0B);
    EXPECT_TRUE(reply->data.empty());
    // One without a code cannot stand for a status (0 would be success).
    next = {};
    reply = sendCbor(session(), request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::KeyError);

    // A reply under another command is not the answer: the exchange waits it out.
    cmd = CTAPHID_MSG;
    next = {0x00};
    reply = sendCbor(session(), request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Timeout);

    EXPECT_EQ(d->requests().back().first, 0x90);
}

TEST_F(Ctaphid, SessionWithoutAKeyNeverTouchesTheDevice) {
    auto d = connectKey();
    const uint8_t apdu[] = {0x00};

    // A session made without a key, beside the one on the connected key.
    DeviceSession noKey(clock);
    EXPECT_FALSE(noKey.present());
    Result<ApduReply> reply = sendApdu(noKey, apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::NoDevice);
    Result<CborReply> cbor = sendCbor(noKey, apdu);
    EXPECT_FALSE(cbor.ok());
    EXPECT_EQ(causeOf(cbor), TransportCause::NoDevice);
    Result<Bytes> raw = exchange(noKey, CTAPHID_MSG, apdu);
    EXPECT_FALSE(raw.ok());
    EXPECT_EQ(causeOf(raw), TransportCause::NoDevice);
    EXPECT_TRUE(d->written.empty());

    // A session on a record whose handle is gone.
    DeviceSession noHandle(devices.devices().records.at(0), nullptr, clock);
    EXPECT_FALSE(noHandle.present());
    reply = sendApdu(noHandle, apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::NoDevice);
    EXPECT_TRUE(d->written.empty());

    // No key chosen: after a fresh enumeration the front end's session has none.
    devices.enumerate();
    EXPECT_EQ(devices.select(0x1050, 0x0407), 0);
    EXPECT_FALSE(session().present());
    reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::NoDevice);
    EXPECT_TRUE(d->written.empty());
}

TEST_F(Ctaphid, FailedReadFailsTheExchange) {
    auto d = connectKey();
    d->readFails = true;
    const uint8_t apdu[] = {0x00};
    Result<ApduReply> reply = sendApdu(session(), apdu);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Read);
    EXPECT_FALSE(channelPending(session()));  // an attempted INIT is not retried
}

// A clock that cancels the session's exchange once a given time has passed, as a signal
// handler or the window's Cancel button would while the key waits.
class CancellingClock final : public Clock {
  public:
    uint32_t tickCount() override { return now; }
    void sleep(uint32_t ms) override {
        now += ms;
        if (now >= cancelAt) {
            cancel.store(true);
        }
    }
    uint32_t now = 1000;
    uint32_t cancelAt = 1500;
    std::atomic<bool> cancel{false};
};

TEST(CtaphidCancel, AWaitingExchangeSendsCancelOnItsChannelAndEnds) {
    CancellingClock clock;
    auto backend = std::make_shared<FakeHidBackend>(clock);
    auto key = backend->add(0x1209, 0x0001, 0xF1D0);
    key->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.keepalive(); };
    DeviceContext devices(backend, clock);
    devices.setCancelFlag(&clock.cancel);
    devices.enumerate();
    ASSERT_EQ(devices.select(0, 0), 1);

    const uint8_t request[] = {0x01};
    Result<CborReply> reply = sendCbor(devices.session(), request);
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(causeOf(reply), TransportCause::Cancelled);
    EXPECT_LE(clock.now, clock.cancelAt + 200);  // noticed within a read slice
    // The last report: CTAPHID_CANCEL, no data, on the channel of the request.
    const Bytes& last = key->written.back();
    EXPECT_EQ(Bytes(last.begin() + 1, last.begin() + 5), Bytes(key->channel, key->channel + 4));
    EXPECT_EQ(last[5], CTAPHID_CANCEL);
    EXPECT_EQ(last[6], 0);
    EXPECT_EQ(last[7], 0);

    // Later exchanges end at once, without touching the key.
    const size_t written = key->written.size();
    EXPECT_EQ(causeOf(sendCbor(devices.session(), request)), TransportCause::Cancelled);
    EXPECT_EQ(key->written.size(), written);
}

}  // namespace
}  // namespace orvanta::test
