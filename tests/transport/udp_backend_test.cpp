#include "transport/udp_backend.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "info/device_context.h"
#include "info/device_refresh.h"
#include "support/fake_hid.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"
#include "transport/device_list.h"
#include "transport/device_session.h"
#include "transport/exchange.h"

namespace orvanta::test {
namespace {

// A UDP socket bound on a loopback address; port 0 lets the system choose.
class Socket {
  public:
    explicit Socket(uint16_t port = 0, const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address, &local.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool bound() const { return bound_; }
    int fd() const { return fd_; }
    uint16_t port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    void sendTo(uint16_t port, const Bytes& data) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

// A port that was free a moment ago (the backend binds it itself).
uint16_t freePort() {
    Socket probe;
    return probe.port();
}

// The simulator side: receives 64-byte packets on its own port, hands each to a device as
// an output report and sends every input report the device then has back to the reply port,
// without the report ID byte, as firmware simulators do.
class LoopbackResponder {
  public:
    LoopbackResponder(std::unique_ptr<HidHandle> device, uint16_t replyPort)
        : device_(std::move(device)), replyPort_(replyPort), thread_([this] { serve(); }) {}
    ~LoopbackResponder() {
        stop_ = true;
        thread_.join();
    }
    uint16_t port() const { return socket_.port(); }
    std::vector<size_t> datagramSizes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sizes_;
    }

  private:
    void serve() {
        while (!stop_) {
            pollfd waiter{socket_.fd(), POLLIN, 0};
            if (::poll(&waiter, 1, 2) > 0) {
                uint8_t packet[200];
                ssize_t got = ::recv(socket_.fd(), packet, sizeof packet, 0);
                if (got > 0) {
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        sizes_.push_back(static_cast<size_t>(got));
                    }
                    uint8_t report[65] = {};
                    std::memcpy(report + 1, packet, std::min<size_t>(64, static_cast<size_t>(got)));
                    device_->write(report, sizeof report);
                }
            }
            // Also between requests: a key that waits for a touch sends keepalives.
            uint8_t reply[65];
            while (device_->read(reply, sizeof reply, 0) > 0) {
                socket_.sendTo(replyPort_, Bytes(reply + 1, reply + 65));
            }
        }
    }

    Socket socket_;
    std::unique_ptr<HidHandle> device_;
    uint16_t replyPort_;
    std::mutex mutex_;
    std::vector<size_t> sizes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(UdpAddress, ParsesHostAndPortParts) {
    auto both = parseUdpAddress("127.0.0.5:9000");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->host, "127.0.0.5");
    EXPECT_EQ(both->simulatorPort, 9000);
    EXPECT_EQ(both->replyPort, 7112);

    auto portOnly = parseUdpAddress(":9001");
    ASSERT_TRUE(portOnly);
    EXPECT_EQ(portOnly->host, "127.0.0.1");
    EXPECT_EQ(portOnly->simulatorPort, 9001);

    auto hostOnly = parseUdpAddress("localhost");
    ASSERT_TRUE(hostOnly);
    EXPECT_EQ(hostOnly->host, "localhost");
    EXPECT_EQ(hostOnly->simulatorPort, 8111);

    auto empty = parseUdpAddress("");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->simulatorPort, 8111);

    for (const char* bad : {"127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:80x",
                            "example.org:8111", "1.2.3:8111", ":123456"}) {
        EXPECT_FALSE(parseUdpAddress(bad)) << bad;
    }
    EXPECT_EQ(parsePort("65535"), 65535);
    EXPECT_FALSE(parsePort("-1"));
}

TEST(UdpBackend, ListsOneFidoCollectionNamingTheAddress) {
    UdpBackend backend({"127.0.0.1", 9123, 9124});
    auto listed = backend.enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].vendorId, 0x1209);
    EXPECT_EQ(listed[0].productId, UDP_PRODUCT_ID);
    EXPECT_EQ(listed[0].usagePage, 0xF1D0);
    EXPECT_EQ(listed[0].usage, 1);
    EXPECT_EQ(listed[0].productString, "UDP simulator 127.0.0.1:9123");
    EXPECT_EQ(listed[0].path, "udp:127.0.0.1:9123");
    EXPECT_TRUE(isAcceptedDevice(listed[0].vendorId, listed[0].productId));
}

TEST(UdpBackend, OpenFailsWithAReason) {
    uint16_t reply = freePort();
    UdpBackend backend({"127.0.0.1", 9123, reply});
    std::string error;
    EXPECT_EQ(backend.open("udp:127.0.0.1:1", &error), nullptr);
    EXPECT_EQ(error, "no such device");

    auto first = backend.open(backend.path(), &error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->inputReportLength(), 65u);
    EXPECT_EQ(first->outputReportLength(), 65u);
    // The reply port is taken by the first handle.
    EXPECT_EQ(backend.open(backend.path(), &error), nullptr);
    EXPECT_NE(error.find("cannot bind UDP port " + std::to_string(reply)), std::string::npos)
        << error;
    // Closing releases the port.
    first.reset();
    EXPECT_NE(backend.open(backend.path(), nullptr), nullptr);
}

// A backend opened towards a simulator socket of the test's own.
class UdpBackendOpen : public ::testing::Test {
  protected:
    void SetUp() override {
        handle = backend.open(backend.path(), nullptr);
        ASSERT_NE(handle, nullptr);
    }

    Socket simulator;
    uint16_t reply = freePort();
    UdpBackend backend{{"127.0.0.1", simulator.port(), reply}};
    std::unique_ptr<HidHandle> handle;
};

TEST_F(UdpBackendOpen, ReportsBecomeDatagramsWithoutTheReportId) {
    Bytes report(65);
    for (size_t i = 0; i < report.size(); ++i) {
        report[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(handle->write(report.data(), report.size()), 65);
    uint8_t got[100];
    ssize_t n = ::recv(simulator.fd(), got, sizeof got, 0);
    ASSERT_EQ(n, 64);
    EXPECT_EQ(0, std::memcmp(got, report.data() + 1, 64));
    // A short report is padded to a whole packet.
    EXPECT_EQ(handle->write(report.data(), 9), 9);
    n = ::recv(simulator.fd(), got, sizeof got, 0);
    ASSERT_EQ(n, 64);
    EXPECT_EQ(got[7], 8);
    EXPECT_EQ(got[8], 0);
    EXPECT_EQ(handle->write(report.data(), 0), -1);
}

TEST_F(UdpBackendOpen, ReadsOnlyTheSimulatorsDatagramsAsWholeReports) {
    uint8_t report[65];

    // Nothing queued: no wait with a zero limit.
    EXPECT_EQ(handle->read(report, sizeof report, 0), 0);

    // Another loopback address is not the simulator, nor another port of its address.
    Socket stranger(0, "127.0.0.2");
    if (stranger.bound()) {
        stranger.sendTo(reply, Bytes(64, 0xEE));
    }
    Socket neighbour;
    neighbour.sendTo(reply, Bytes(64, 0xDD));
    // Short datagrams are padded, long ones cut to the packet length.
    simulator.sendTo(reply, Bytes{1, 2, 3});
    Bytes longer(100, 0x55);
    simulator.sendTo(reply, longer);

    ASSERT_EQ(handle->read(report, sizeof report, 1000), 65);
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[1], 1);
    EXPECT_EQ(report[3], 3);
    EXPECT_EQ(report[4], 0);
    EXPECT_EQ(report[64], 0);
    ASSERT_EQ(handle->read(report, sizeof report, 1000), 65);
    EXPECT_EQ(report[1], 0x55);
    EXPECT_EQ(report[64], 0x55);
    EXPECT_EQ(handle->read(report, sizeof report, 0), 0);

    // A smaller buffer takes what fits; flush drops what is queued.
    simulator.sendTo(reply, Bytes(64, 0x11));
    ASSERT_EQ(handle->read(report, 10, 1000), 10);
    EXPECT_EQ(report[9], 0x11);
    simulator.sendTo(reply, Bytes(64, 0x22));
    // Loopback delivery is synchronous: the datagram is queued when sendto returns.
    handle->flush();
    EXPECT_EQ(handle->read(report, sizeof report, 0), 0);
}

TEST(UdpBackend, NobodyOnTheSimulatorPortFailsTheReadAtOnce) {
    uint16_t closed = freePort();
    UdpBackend backend({"127.0.0.1", closed, freePort()});
    auto handle = backend.open(backend.path(), nullptr);
    ASSERT_NE(handle, nullptr);
    uint8_t report[65] = {};
    handle->write(report, sizeof report);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(handle->read(report, sizeof report, 5000), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // The error is reported once; the handle stays usable.
    EXPECT_EQ(handle->read(report, sizeof report, 0), 0);
}

TEST(UdpBackend, CtaphidExchangeWithALoopbackSimulator) {
    auto device = std::make_shared<FakeDevice>();
    device->onMessage = [](FakeDevice& d, uint8_t command, const Bytes& payload) {
        Bytes answer = payload;
        answer.insert(answer.end(), {0x90, 0x00});
        d.reply(command, answer);
    };
    // The responder's thread alone reads the fake key, so the fake's waits have a clock of
    // their own.
    ManualClock fakeClock;
    FakeHidBackend fakes(fakeClock);
    fakes.entries.push_back(
        {HidInterfaceInfo{"fake", 0x1209, 1, 0, "", 0xF1D0, 1, TransportKind::Usb, ""}, device,
         ""});
    uint16_t reply = freePort();
    auto responder = std::make_unique<LoopbackResponder>(fakes.open("fake", nullptr), reply);

    // The replies come over real sockets, so the exchange waits for them on the system clock.
    SystemClock system;
    UdpBackend udp(UdpEndpoints{"127.0.0.1", responder->port(), reply});
    DeviceList list = enumerateDevices(udp);
    ASSERT_EQ(list.interfaceCount, 1);
    const Selection selection = selectDevice(list, 0, 0);
    ASSERT_EQ(selection.result, 1);
    std::unique_ptr<DeviceSession> session = openSession(list, *selection.index, system);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->device().productId, UDP_PRODUCT_ID);

    // A request of three packets and its echo of three packets.
    Bytes request(150);
    for (size_t i = 0; i < request.size(); ++i) {
        request[i] = static_cast<uint8_t>(i * 7);
    }
    Result<Bytes> answer = exchange(*session, CTAPHID_MSG, request);
    ASSERT_TRUE(answer.ok());
    ASSERT_EQ(answer->size(), 152u);
    EXPECT_EQ(Bytes(answer->begin(), answer->begin() + 150), request);
    EXPECT_EQ((*answer)[150], 0x90);
    EXPECT_EQ((*answer)[151], 0x00);

    auto sizes = responder->datagramSizes();
    EXPECT_EQ(sizes, std::vector<size_t>(4, 64));  // INIT and three request packets
    responder.reset();
    auto requests = device->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].second, request);
}

TEST(UdpBackend, VirtualKeyServedOverLoopback) {
    // The key runs on the responder's thread and waits on a clock of its own.
    ManualClock keyClock;
    Profile profile = profileByName("default");
    profile.firmwareMajor = 5;
    profile.firmwareMinor = 0x1A;
    VirtualKeySetup key = makeVirtualKey(profile, keyClock);
    uint16_t reply = freePort();
    auto listed = key.backend->enumerate();
    ASSERT_FALSE(listed.empty());
    auto responder =
        std::make_unique<LoopbackResponder>(key.backend->open(listed[0].path, nullptr), reply);

    SystemClock system;
    auto udp = std::make_shared<UdpBackend>(UdpEndpoints{"127.0.0.1", responder->port(), reply});
    DeviceContext devices(udp, system);
    devices.enumerate();
    ASSERT_EQ(devices.select(0, 0), 1);

    // A CTAP2 request and an APDU, both answered by the key behind the simulator port.
    const uint8_t getInfo[] = {0x04};
    Result<CborReply> info = sendCbor(devices.session(), getInfo);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->status, 0);
    EXPECT_GT(info->data.size(), 20u);
    EXPECT_EQ(info->data[0] >> 5, 5);  // a CBOR map
    const uint8_t selectU2f[] = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00,
                                 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01, 0x00};
    Result<ApduReply> selected = sendApdu(devices.session(), selectU2f);
    ASSERT_TRUE(selected.ok());
    EXPECT_EQ(selected->status, 0x9000);

    // A simulator has no USB release number: the page shows the version its INIT states.
    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    Pages pages{hardware, fido2, u2f};
    ShowDeviceInfo(devices, pages, "", "");
    ASSERT_GE(hardware.rowCount(), 4);
    EXPECT_EQ(hardware.labelAt(3), "Firmware Version");
    EXPECT_EQ(hardware.valueAt(3), "051A");

    devices.close();
    responder.reset();
    EXPECT_GE(key.key->requestLog().size(), 2u);
}

}  // namespace
}  // namespace orvanta::test
