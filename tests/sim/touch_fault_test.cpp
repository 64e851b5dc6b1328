// User presence on the backend's clock, the fault modes, the link model and the listing of
// virtual devices.

#include "ctap/cbor.h"
#include "sim_fixture.h"
#include "x509_check.h"

namespace orvanta::test {
namespace {

// authenticatorSelection: a CTAP2 request that only waits for a touch.
const Bytes SELECTION = {0x0B};
const Bytes GET_INFO = {0x04};

class TouchTest : public SimTest {
  protected:
    // A default key that sees its user's touch as `touch` says.
    SimClient& connectWith(TouchPolicy touch) {
        Profile p = profileByName("default");
        p.touch = touch;
        return connect(p);
    }
};

TEST_F(TouchTest, ImmediateTouchSendsNoKeepalive) {
    SimClient& c = connect("default");
    c.send(c.cid, 0x90, SELECTION);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x00});
    EXPECT_EQ(m->keepalives, 0u);
}

TEST_F(TouchTest, TouchAfterTimeSendsKeepalivesEveryHundredMs) {
    SimClient& c = connectWith(TouchPolicy::afterMs(1000));
    c.send(c.cid, 0x90, SELECTION);
    uint8_t report[65];
    ASSERT_EQ(c.handle().read(report, sizeof(report), 3000), 65);
    EXPECT_EQ(report[5], 0xBB);
    EXPECT_EQ(Bytes(report + 1, report + 5), cidBytes(c.cid));
    EXPECT_EQ(report[7], 1);
    EXPECT_EQ(report[8], 0x02);  // waiting for user presence
    const uint32_t start = manual.tickCount() - 100;
    const auto m = c.receive(3000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x00});
    EXPECT_EQ(m->keepalives + 1, 9u);
    EXPECT_EQ(manual.tickCount() - start, 1000u);
}

TEST_F(TouchTest, TouchAfterRequestsCountsKeepaliveSteps) {
    SimClient& c = connectWith(TouchPolicy::afterRequests(5));
    c.send(c.cid, 0x90, SELECTION);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    // The request is the first check, each keepalive step one more: the fifth succeeds.
    EXPECT_EQ(m->keepalives, 3u);
}

TEST_F(TouchTest, NeverTouchedTimesOutOnTheKeysSide) {
    SimClient& c = connectWith(TouchPolicy::never());
    const uint32_t start = manual.tickCount();
    c.send(c.cid, 0x90, SELECTION);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x2F});  // user action timeout
    EXPECT_EQ(manual.tickCount() - start, USER_PRESENCE_TIMEOUT_MS);
    EXPECT_FALSE(keys[0]->waitingForTouch());
}

TEST_F(TouchTest, TouchByHandEndsTheWait) {
    SimClient& c = connectWith(TouchPolicy::never());
    c.send(c.cid, 0x90, SELECTION);
    uint8_t report[65];
    ASSERT_EQ(c.handle().read(report, sizeof(report), 1000), 65);
    EXPECT_EQ(report[5], 0xBB);
    keys[0]->touch();
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0x00});
    EXPECT_EQ(m->keepalives, 0u);
}

TEST_F(TouchTest, CancelEndsTheWaitWithKeepaliveCancel) {
    SimClient& c = connectWith(TouchPolicy::never());
    c.send(c.cid, 0x90, SELECTION);
    c.send(c.cid, 0x91, {});
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, 0x90);
    EXPECT_EQ(m->payload, Bytes{0x2D});
    EXPECT_EQ(keys[0]->counters().cancels, 1u);
}

class FaultTest : public SimTest {};

TEST_F(FaultTest, SilenceAnswersNothingAtAll) {
    VirtualKey& key = backend.addDevice("silent");
    SimClient c(backend, "virtual:" + std::to_string(key.serial()) + ":0");
    const uint32_t start = manual.tickCount();
    EXPECT_EQ(c.init(), 0u);
    EXPECT_EQ(manual.tickCount() - start, 1000u);  // the whole read timeout, on the clock
    EXPECT_EQ(key.counters().initRequests, 1u);    // it heard the request
}

TEST_F(FaultTest, OversizedBcntAndWrongChannelLeaveInitAlone) {
    SimClient& c = connect("default");
    keys[0]->setFault(FaultMode::OversizedBcnt);
    c.send(c.cid, 0x90, GET_INFO);
    uint8_t report[65];
    ASSERT_EQ(c.handle().read(report, sizeof(report), 100), 65);
    EXPECT_EQ(report[6], 0xFF);
    EXPECT_EQ(report[7], 0xFF);
    c.handle().flush();

    keys[0]->setFault(FaultMode::WrongChannel);
    ASSERT_NE(c.init(), 0u);  // INIT still answered on the broadcast channel
    c.send(c.cid, 0x90, GET_INFO);
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_NE(m->cid, c.cid);
    EXPECT_EQ(m->command, 0x90);

    keys[0]->setFault(FaultMode::None);  // switchable back at any time
    EXPECT_EQ(c.cbor(GET_INFO)[0], 0);
}

TEST_F(FaultTest, TruncatedAndMalformedCborReplies) {
    SimClient& c = connect("default");
    const Bytes good = c.cbor(GET_INFO);
    keys[0]->setFault(FaultMode::TruncatedCbor);
    const Bytes cut = c.cbor(GET_INFO);
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut[0], 0);
    EXPECT_EQ(cut.size(), 1 + (good.size() - 1) / 2);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), good.begin()));

    keys[0]->setFault(FaultMode::MalformedCbor);
    const Bytes bad = c.cbor(GET_INFO);
    ASSERT_GT(bad.size(), 2u);
    EXPECT_EQ(bad[0], 0);
    const CborSpan span{bad.data() + 1, static_cast<uint32_t>(bad.size() - 1)};
    const uint8_t* p = nullptr;
    uint32_t n = 0;
    EXPECT_FALSE(readByteString(mapFindInt(span, 2), &p, &n));
    EXPECT_FALSE(mapFindInt(span, 4).found());
    // Error statuses carry no CBOR and stay as they are.
    EXPECT_EQ(c.cbor({0x42}), Bytes{0x01});
}

TEST_F(FaultTest, ShortPinTokenAndBadCertificate) {
    SimClient& c = connect("pin");
    keys[0]->setFault(FaultMode::BadCertificate);
    const Bytes apdu = [] {
        Bytes a = {0x00, 0x01, 0x03, 0x00, 0x40};
        a.resize(69, 0x33);
        return a;
    }();
    const Bytes reg = c.apdu(apdu);
    ASSERT_EQ(statusWord(reg), 0x9000);
    const size_t certAt = 67 + reg[66];
    const Bytes cert(reg.begin() + certAt, reg.begin() + certAt + 36);
    EXPECT_FALSE(decodes(cert));
    EXPECT_EQ(cert[0], 0x30);  // still starts like a certificate

    keys[0]->setFault(FaultMode::ShortU2fResponse);
    const Bytes shortReg = c.apdu(apdu);
    ASSERT_EQ(statusWord(shortReg), 0x9000);
    const size_t l = shortReg[66];
    const size_t announced =
        static_cast<size_t>(shortReg[67 + l + 2] << 8 | shortReg[67 + l + 3]) + 4;
    EXPECT_LT(shortReg.size() - 2, 67 + l + announced);
}

TEST_F(FaultTest, LinkDelaySpendsClockTimePerReport) {
    Profile p = profileByName("default");
    p.linkDelayMs = 8;
    SimClient& c = connect(p);
    const uint32_t start = manual.tickCount();
    c.send(c.cid, 0x81, Bytes(100, 7));  // two reports out, two back
    const auto m = c.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(manual.tickCount() - start, 32u);
}

class BackendTest : public SimTest {};

TEST_F(BackendTest, ListsCollectionsOfEveryKey) {
    backend.addDevice("keyboard");
    backend.addDevice("default");
    const auto list = backend.enumerate();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].path, "virtual:0:0");
    EXPECT_EQ(list[0].usagePage, 0x0001);
    EXPECT_EQ(list[0].usage, 0x0006);
    EXPECT_EQ(list[1].path, "virtual:0:1");
    EXPECT_EQ(list[1].usagePage, 0xF1D0);
    EXPECT_EQ(list[1].usage, 0x01);
    EXPECT_EQ(list[2].path, "virtual:1:0");
    for (const auto& info : list) {
        EXPECT_EQ(info.vendorId, 0x1209);
        EXPECT_EQ(info.productId, 0x0001);
        EXPECT_EQ(info.productString, "Orvanta Virtual Key");
    }
    auto keyboard = backend.open("virtual:0:0", nullptr);
    ASSERT_TRUE(keyboard);
    EXPECT_EQ(keyboard->inputReportLength(), 9u);
    uint8_t report[65];
    EXPECT_EQ(keyboard->read(report, sizeof(report), 50), 0);
    auto fido = backend.open("virtual:0:1", nullptr);
    ASSERT_TRUE(fido);
    EXPECT_EQ(fido->inputReportLength(), 65u);
    EXPECT_EQ(fido->outputReportLength(), 65u);
}

TEST_F(BackendTest, OpenFailuresSayWhy) {
    Profile p = profileByName("default");
    p.openError = "permission denied";
    backend.addDevice(p);
    std::string error;
    EXPECT_FALSE(backend.open("virtual:0:0", &error));
    EXPECT_EQ(error, "permission denied");
    for (const char* path :
         {"virtual:7:0", "virtual:0:3", "virtual:x:0", "virtual:0", "hid:0:0", "virtual:0:0junk"}) {
        error.clear();
        EXPECT_FALSE(backend.open(path, &error)) << path;
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(BackendTest, RemovedKeyDisappearsAndItsHandlesFail) {
    SimClient& a = connect("default");
    connect("pin");
    ASSERT_TRUE(backend.removeDevice(0));
    EXPECT_FALSE(backend.removeDevice(5));
    const auto list = backend.enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "virtual:1:0");
    uint8_t report[65] = {};
    EXPECT_EQ(a.handle().write(report, sizeof(report)), -1);
    EXPECT_EQ(a.handle().read(report, sizeof(report), 10), -1);
    EXPECT_FALSE(backend.open("virtual:0:0", nullptr));
    EXPECT_EQ(keys[0]->serial(), 0u);  // the reference given out stays usable
}

TEST_F(BackendTest, NamedProfiles) {
    const auto names = profileNames();
    for (const char* n :
         {"default", "full", "pin", "u2f-only", "ctap2-only", "no-applets", "silent"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
        EXPECT_EQ(profileByName(n).name, n);
    }
    EXPECT_EQ(profileByName("pin").pin, "1234");
    EXPECT_FALSE(profileByName("u2f-only").ctap2);
    EXPECT_EQ(profileByName("silent").fault, FaultMode::Silence);
    EXPECT_FALSE(isProfileName("nonsense"));
    EXPECT_EQ(profileByName("nonsense").name, "default");
}

}  // namespace
}  // namespace orvanta::test
