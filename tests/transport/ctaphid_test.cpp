#include <cstring>

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
    uint8_t reply[REPLY_BUFFER_SIZE];
    uint32_t n = 0;
    struct Case {
        size_t length;
        std::vector<std::pair<int, size_t>> packets;  // (sequence or -1 for init, data bytes)
    };
    for (const Case& c :
         {Case{57, {{-1, 57}}}, Case{58, {{-1, 57}, {0, 1}}}, Case{116, {{-1, 57}, {0, 59}}},
          Case{200, {{-1, 57}, {0, 59}, {1, 59}, {2, 25}}}}) {
        d->written.clear();
        Bytes request = pattern(c.length);
        ASSERT_EQ(ctaphidExchange(deviceManager(), request.data(), c.length, 0x83, reply, &n), 0);
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
    uint8_t request[] = {0x04};
    uint8_t reply[REPLY_BUFFER_SIZE];
    uint32_t n = 0;
    ASSERT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), 0);
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(n, 200u);
    EXPECT_EQ(Bytes(reply, reply + n), payload);
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
    uint8_t request[] = {0x04};
    uint8_t reply[REPLY_BUFFER_SIZE];
    uint32_t n = 0;
    ASSERT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(reply[0], 0x00);
    EXPECT_EQ(reply[1], 0xA0);
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
    uint8_t request[] = {0x04};
    uint8_t reply[REPLY_BUFFER_SIZE];
    uint32_t n = 0;
    ASSERT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), 0);
    EXPECT_EQ(Bytes(reply, reply + n), payload);

    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.reply(0x90, payload);
        dev.input.back()[5] = 1;  // sequence 1 where 0 is due
    };
    n = 12345;
    EXPECT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), -1);
    EXPECT_EQ(n, 12345u);
}

TEST_F(Ctaphid, InitOnlyOnFirstExchangeAfterSelection) {
    auto d = connectKey();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x83, {0x90, 0x00}); };
    uint8_t apdu[] = {0x00, 0xA4, 0x04, 0x00};
    EXPECT_EQ(sendApdu(apdu, 4, nullptr, nullptr), 0x9000);
    EXPECT_EQ(sendApdu(apdu, 4, nullptr, nullptr), 0x9000);
    ASSERT_EQ(d->initCount(), 1);
    const Bytes& init = d->written[0];
    EXPECT_EQ(init[5], 0x86);
    EXPECT_EQ(init[7], 8);
    EXPECT_EQ(0, std::memcmp(deviceManager().channelId, d->channel, 4));
    selectDevice(deviceManager(), 0, 0);
    EXPECT_EQ(sendApdu(apdu, 4, nullptr, nullptr), 0x9000);
    EXPECT_EQ(d->initCount(), 2);
}

TEST_F(Ctaphid, InitReplyMustEchoOurNonce) {
    auto d = connectKey();
    d->autoInit = false;
    const uint8_t broadcast[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    // A reply to somebody else's INIT, then silence: the channel is never taken from it.
    d->reply(0x86, hex("0102030405060708 55667788 0201000005"), broadcast);
    uint8_t apdu[] = {0x00};
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);
    EXPECT_NE(deviceManager().channelId[0], 0x55);
}

TEST_F(Ctaphid, SilentDeviceFailsWithinTheBound) {
    auto d = connectKey();
    uint8_t apdu[] = {0x00};
    uint32_t start = clock.tickCount();
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);  // INIT unanswered
    EXPECT_LE(clock.tickCount() - start, REPORT_WAIT_MS);
    EXPECT_GE(clock.tickCount() - start, REPORT_WAIT_MS);

    // Keepalives keep the wait going, but not beyond the exchange limit.
    selectDevice(deviceManager(), 0, 0);
    d->delayPerReport = 100;
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        for (int i = 0; i < 2000; ++i) {  // 200 s of "waiting for touch"
            dev.keepalive();
        }
    };
    start = clock.tickCount();
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);
    EXPECT_GE(clock.tickCount() - start, EXCHANGE_LIMIT_MS);
    EXPECT_LE(clock.tickCount() - start, EXCHANGE_LIMIT_MS + 200);

    // A touch after 5 s of keepalives still gets its reply.
    selectDevice(deviceManager(), 0, 0);
    d->input.clear();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        for (int i = 0; i < 50; ++i) {
            dev.keepalive();
        }
        dev.reply(0x83, {0x90, 0x00});
    };
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), 0x9000);
}

TEST_F(Ctaphid, OversizedReplyAndOddReportLengthsFail) {
    auto d = connectKey();
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) {
        dev.raw(dev.channel, {0x90, 0x10, 0x01, 0x00});  // BCNT 4097
    };
    uint8_t request[] = {0x04};
    uint8_t reply[REPLY_BUFFER_SIZE];
    uint32_t n = 0;
    EXPECT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), -1);

    d->input.clear();
    d->outputLength = 129;  // longer than the report buffer
    EXPECT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), -1);
    d->outputLength = 65;
    d->writeResult = 64;  // short write
    EXPECT_EQ(ctaphidExchange(deviceManager(), request, 1, 0x90, reply, &n), -1);
}

TEST_F(Ctaphid, SendApduResults) {
    auto d = connectKey();
    Bytes next;
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0x83, next); };
    uint8_t apdu[] = {0x00, 0x01};
    uint8_t buffer[64];
    uint32_t length;

    next = {0x90, 0x00};
    length = sizeof buffer;
    EXPECT_EQ(sendApdu(apdu, 2, buffer, &length), 0x9000);
    EXPECT_EQ(length, 0u);

    next = pattern(20);
    next.push_back(0x90);
    next.push_back(0x00);
    std::memset(buffer, 0xAA, sizeof buffer);
    length = 10;
    EXPECT_EQ(sendApdu(apdu, 2, buffer, &length), TRANSPORT_FAILED);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(buffer[0], 0xAA);

    length = 0;
    EXPECT_EQ(sendApdu(apdu, 2, nullptr, &length), 0x9000);
    EXPECT_EQ(length, 20u);

    length = sizeof buffer;
    EXPECT_EQ(sendApdu(apdu, 2, buffer, &length), 0x9000);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(Bytes(buffer, buffer + 20), pattern(20));

    next = {0x6A, 0x82};
    EXPECT_EQ(sendApdu(apdu, 2, nullptr, nullptr), 0x6A82);

    // A one-byte CTAPHID_ERROR reply has no status word.
    d->onMessage = [](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(0xBF, {0x06}); };
    EXPECT_EQ(sendApdu(apdu, 2, buffer, &length), TRANSPORT_FAILED);
}

TEST_F(Ctaphid, SendCborResults) {
    auto d = connectKey();
    Bytes next;
    uint8_t cmd = 0x90;
    d->onMessage = [&](FakeDevice& dev, uint8_t, const Bytes&) { dev.reply(cmd, next); };
    uint8_t request[] = {0x04};
    uint8_t buffer[16];
    uint32_t length;

    next = {0x00, 0xA1, 0x01, 0x02};
    EXPECT_EQ(sendCbor(request, 1, buffer, nullptr), NO_LENGTH);
    length = 0;
    EXPECT_EQ(sendCbor(request, 1, buffer, &length), NO_LENGTH);
    length = sizeof buffer;
    EXPECT_EQ(sendCbor(request, 1, buffer, &length), 0);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), hex("A10102"));

    next = {0x31};  // status alone leaves the caller's buffer and length as they were
    length = sizeof buffer;
    EXPECT_EQ(sendCbor(request, 1, buffer, &length), 0x31);
    EXPECT_EQ(length, sizeof buffer);

    cmd = 0xBF;
    next = {0x0B};
    EXPECT_EQ(sendCbor(request, 1, buffer, &length), 0x000B);

    EXPECT_EQ(d->requests().back().first, 0x90);
}

TEST_F(Ctaphid, NotReadyOrNoDeviceNeverTouchesTheDevice) {
    auto d = connectKey();
    transportReady = 0;
    uint8_t apdu[] = {0x00};
    uint32_t length = 1;
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);
    EXPECT_EQ(sendCbor(apdu, 1, apdu, &length), TRANSPORT_FAILED);
    EXPECT_TRUE(d->written.empty());

    transportReady = 1;
    deviceManager().selected = DeviceRecord();
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);
    EXPECT_TRUE(d->written.empty());
}

TEST_F(Ctaphid, FailedReadFailsTheExchange) {
    auto d = connectKey();
    d->readFails = true;
    uint8_t apdu[] = {0x00};
    EXPECT_EQ(sendApdu(apdu, 1, nullptr, nullptr), TRANSPORT_FAILED);
    EXPECT_FALSE(deviceManager().initPending);  // an attempted INIT is not retried
}

}  // namespace
}  // namespace orvanta::test
