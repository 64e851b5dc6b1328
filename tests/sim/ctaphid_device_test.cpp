// The device side of CTAPHID: channel allocation, reassembly, and the ERROR replies a
// careless host provokes.

#include "sim_fixture.h"

namespace orvanta::test {
namespace {

constexpr uint8_t ERR = 0xBF;

class CtaphidDeviceTest : public SimTest {};

TEST_F(CtaphidDeviceTest, InitEchoesNonceAndAllocatesFreshChannels) {
    SimClient& c = connect("default");
    const Bytes nonce = {9, 8, 7, 6, 5, 4, 3, 2};
    c.send(0xFFFFFFFF, 0x86, nonce);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->cid, 0xFFFFFFFFu);
    EXPECT_EQ(m->command, 0x86);
    ASSERT_EQ(m->payload.size(), 17u);
    EXPECT_EQ(Bytes(m->payload.begin(), m->payload.begin() + 8), nonce);
    const uint32_t second = static_cast<uint32_t>(m->payload[8]) << 24 |
                            static_cast<uint32_t>(m->payload[9]) << 16 |
                            static_cast<uint32_t>(m->payload[10]) << 8 | m->payload[11];
    EXPECT_NE(second, c.cid);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, 0xFFFFFFFFu);
    EXPECT_EQ(m->payload[12], 2);            // CTAPHID protocol version
    EXPECT_EQ(m->payload[16] & 0x04, 0x04);  // CBOR capable
}

TEST_F(CtaphidDeviceTest, U2fOnlyKeyHasNoCborCapabilityAndRefusesCbor) {
    SimClient& c = connect("u2f-only");
    c.send(0xFFFFFFFF, 0x86, Bytes(8, 1));
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload[16] & 0x04, 0);
    c.send(c.cid, 0x90, {0x04});
    const auto e = c.receive();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->command, ERR);
    EXPECT_EQ(e->payload, Bytes{0x01});
}

TEST_F(CtaphidDeviceTest, ChannelErrors) {
    SimClient& c = connect("default");
    struct Case {
        uint32_t cid;
        uint8_t command;
        Bytes payload;
        uint8_t error;
    } cases[] = {
        {0x12345678, 0x90, {0x04}, 0x0B},       // never allocated
        {0x00000000, 0x90, {0x04}, 0x0B},       // reserved
        {0xFFFFFFFF, 0x90, {0x04}, 0x0B},       // broadcast is for INIT only
        {0xFFFFFFFF, 0x86, Bytes(7, 0), 0x03},  // INIT nonce must be 8 bytes
        {c.cid, 0x8F, {}, 0x01},                // unknown command
    };
    for (const Case& k : cases) {
        c.send(k.cid, k.command, k.payload);
        const auto m = c.receive();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->command, ERR);
        EXPECT_EQ(m->cid, k.cid);
        EXPECT_EQ(m->payload, Bytes{k.error}) << std::hex << k.cid << " " << int(k.command);
    }
    EXPECT_EQ(keys[0]->counters().ctaphidErrors, 5u);
}

TEST_F(CtaphidDeviceTest, MessageLongerThanSequenceNumbersCarryIsInvalidLength) {
    SimClient& c = connect("default");
    Bytes p = cidBytes(c.cid);
    p.insert(p.end(), {0x81, 0x1D, 0xBA});  // PING of 7610 bytes
    c.packet(p);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x03});
}

TEST_F(CtaphidDeviceTest, ContinuationOutOfSequenceIsInvalidSequence) {
    SimClient& c = connect("default");
    Bytes first = cidBytes(c.cid);
    first.insert(first.end(), {0x81, 0x00, 100});
    c.packet(first);
    Bytes cont = cidBytes(c.cid);
    cont.push_back(1);  // sequence 0 expected
    c.packet(cont);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, ERR);
    EXPECT_EQ(m->payload, Bytes{0x04});
    // The broken message is dropped: a fresh one goes through.
    c.send(c.cid, 0x81, {1, 2, 3});
    const auto echo = c.receive();
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->payload, (Bytes{1, 2, 3}));
}

TEST_F(CtaphidDeviceTest, NewMessageOnChannelInTheMiddleOfOneIsInvalidSequence) {
    SimClient& c = connect("default");
    Bytes first = cidBytes(c.cid);
    first.insert(first.end(), {0x81, 0x00, 100});
    c.packet(first);
    c.send(c.cid, 0x81, {1});
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x04});
}

TEST_F(CtaphidDeviceTest, OtherChannelWhileAssemblingOrWaitingIsBusy) {
    SimClient& c = connect("default");
    SimClient other(backend, "virtual:0:0");
    ASSERT_NE(other.init(), 0u);
    ASSERT_NE(other.cid, c.cid);

    Bytes first = cidBytes(c.cid);
    first.insert(first.end(), {0x81, 0x00, 100});
    c.packet(first);
    other.send(other.cid, 0x81, {1});
    auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->cid, other.cid);
    EXPECT_EQ(m->payload, Bytes{0x06});
    // The first message still completes.
    Bytes cont = cidBytes(c.cid);
    cont.push_back(0);
    cont.resize(64, 0xAB);
    c.packet(cont);
    m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->cid, c.cid);
    EXPECT_EQ(m->payload.size(), 100u);

    keys[0]->setTouchPolicy(TouchPolicy::never());
    c.send(c.cid, 0x90, {0x0B});  // authenticatorSelection waits for a touch
    EXPECT_TRUE(keys[0]->waitingForTouch());
    other.send(other.cid, 0x90, {0x04});
    m = other.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, ERR);
    EXPECT_EQ(m->payload, Bytes{0x06});
}

TEST_F(CtaphidDeviceTest, LongRequestsAndRepliesSpanContinuationPackets) {
    SimClient& c = connect("default");
    Bytes payload(200);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i);
    }
    const uint32_t readsBefore = keys[0]->counters().reportsRead;
    c.send(c.cid, 0x81, payload);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, payload);
    EXPECT_EQ(keys[0]->counters().reportsRead - readsBefore, 4u);  // 57 + 59 + 59 + 25
    ASSERT_FALSE(keys[0]->requestLog().empty());
    Bytes logged = {0x81};
    logged.insert(logged.end(), payload.begin(), payload.end());
    EXPECT_EQ(keys[0]->requestLog().back().bytes(), logged);
}

TEST_F(CtaphidDeviceTest, StrayContinuationIsIgnoredAndNothingComes) {
    SimClient& c = connect("default");
    Bytes cont = cidBytes(c.cid);
    cont.push_back(0);
    c.packet(cont);
    const uint32_t before = manual.tickCount();
    EXPECT_FALSE(c.receive(250));
    EXPECT_EQ(manual.tickCount() - before, 250u);  // the wait passed on the clock
}

TEST_F(CtaphidDeviceTest, InitOnOwnChannelResynchronises) {
    SimClient& c = connect("default");
    Bytes first = cidBytes(c.cid);
    first.insert(first.end(), {0x81, 0x00, 100});
    c.packet(first);
    c.send(c.cid, 0x86, Bytes(8, 0x42));
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, 0x86);
    EXPECT_EQ(m->cid, c.cid);
    EXPECT_EQ(Bytes(m->payload.begin() + 8, m->payload.begin() + 12), cidBytes(c.cid));
}

}  // namespace
}  // namespace orvanta::test
