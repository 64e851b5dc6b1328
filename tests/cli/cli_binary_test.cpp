// The orvanta-cli binary end to end: the virtual key, a firmware simulator over UDP served
// by a loopback responder in this test, the PIN on standard input, and exit statuses.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli_harness.h"
#include "support/virtual_key_setup.h"
#include "transport/clock.h"

namespace orvanta::test {
namespace {

using nlohmann::json;

// Binds a UDP socket to a free port on 127.0.0.1 and returns the port.
uint16_t bindLoopback(int fd) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

// A UDP port that was free a moment ago.
uint16_t freePort() {
    int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const uint16_t port = bindLoopback(probe);
    ::close(probe);
    return port;
}

// A firmware simulator on 127.0.0.1: 64-byte packets in, the virtual key's reports out to
// the reply port, as UDP datagrams.
class UdpSimulator {
  public:
    explicit UdpSimulator(const std::string& profile) : key_(makeVirtualKey(profile, clock_)) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        port_ = bindLoopback(fd_);
        replyPort_ = freePort();
        device_ = key_.backend->open(key_.backend->enumerate().at(0).path, nullptr);
        thread_ = std::thread([this] { serve(); });
    }
    ~UdpSimulator() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    uint16_t replyPort() const { return replyPort_; }

  private:
    void serve() {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(replyPort_);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        while (!stop_) {
            pollfd waiter{fd_, POLLIN, 0};
            if (::poll(&waiter, 1, 2) > 0) {
                uint8_t report[65] = {};
                if (::recv(fd_, report + 1, 64, 0) > 0) {
                    device_->write(report, sizeof report);
                }
            }
            uint8_t reply[65];
            while (device_->read(reply, sizeof reply, 0) > 0) {
                ::sendto(fd_, reply + 1, 64, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
        }
    }

    // The key's own waits (touch, keepalives) pass on a manual clock: the program under test
    // keeps the real time, and the serving thread alone moves this clock.
    ManualClock clock_;
    VirtualKeySetup key_;
    std::unique_ptr<HidHandle> device_;
    int fd_ = -1;
    uint16_t port_ = 0;
    uint16_t replyPort_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(CliBinary, VirtualAllPrintsThreePagesAndProgress) {
    CliResult r = runBinary({"--virtual", "--yes", "all"});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t hardware = r.out.find("hardware info\nItem");
    size_t fido2 = r.out.find("\nFIDO2 Certification\nItem");
    size_t u2f = r.out.find("\nU2F Certification\nItem");
    EXPECT_EQ(hardware, 0u);
    EXPECT_NE(fido2, std::string::npos);
    EXPECT_NE(u2f, std::string::npos);
    EXPECT_LT(fido2, u2f);
    EXPECT_EQ(r.err, "Touch your security key...\nTouch your security key...\n");
}

TEST(CliBinary, PinOnStandardInputGivenEmptyOrMissing) {
    const std::string pin = "1234";
    CliResult r =
        runBinary({"--json", "--virtual=pin", "--yes", "--pin-stdin", "fido2"}, pin + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(doc["pages"][0]["page"], "FIDO2 Certification");
    EXPECT_EQ(r.out.find(pin), std::string::npos);
    EXPECT_EQ(r.err.find(pin), std::string::npos);

    // An empty line is an empty PIN, as an empty PIN box is; no line at all is no PIN.
    CliResult empty = runBinary({"--virtual=pin", "--yes", "--pin-stdin", "fido2"}, "\n");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("PIN cannot be empty!\n"), std::string::npos) << empty.err;
    CliResult none = runBinary({"--virtual=pin", "--yes", "--pin-stdin", "fido2"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("No PIN on standard input.\n"), std::string::npos) << none.err;
}

// On a real terminal: the confirmation and the PIN are asked there, and the PIN typed is
// not echoed (the terminal itself would show it otherwise).
TEST(CliBinary, PinTypedOnATerminalIsNotEchoed) {
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* argv[] = {ORVANTA_CLI_PATH, "--virtual=pin", "fido2", nullptr};
        execv(ORVANTA_CLI_PATH, const_cast<char* const*>(argv));
        _exit(127);
    }
    std::string screen;
    bool confirmed = false;
    bool pinTyped = false;
    for (;;) {
        pollfd waiter{master, POLLIN, 0};
        if (poll(&waiter, 1, 30000) <= 0) {
            ADD_FAILURE() << "no output; so far: " << screen;
            kill(child, SIGKILL);
            break;
        }
        char chunk[4096];
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0) {
            break;  // the program ended and closed the terminal
        }
        screen.append(chunk, static_cast<size_t>(n));
        if (!confirmed && screen.find("(o/c): ") != std::string::npos) {
            confirmed = write(master, "o\r", 2) == 2;
        }
        if (!pinTyped && screen.find("PIN: ") != std::string::npos) {
            pinTyped = write(master, "1234\r", 5) == 5;
        }
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(confirmed);
    EXPECT_TRUE(pinTyped);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_NE(screen.find("Verify Result    YES"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("1234"), std::string::npos) << screen;
}

TEST(CliBinary, ExitStatuses) {
    EXPECT_EQ(runBinary({"--virtual", "--device", "1050:0407", "info"}).status, 3);
    CliResult usage = runBinary({"--virtual", "bogus-command"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_FALSE(usage.err.empty());
    CliResult broken = runBinary({"decode", "cert", "-"}, "3003020101");
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, "standard input is not an X.509 certificate.\n");
    // No terminal to confirm on: the fetch does not start and nothing waits.
    CliResult unconfirmed = runBinary({"--virtual", "u2f"});
    EXPECT_EQ(unconfirmed.status, 1);
    EXPECT_NE(unconfirmed.err.find("--yes"), std::string::npos);
}

TEST(CliBinary, FirmwareSimulatorOverUdp) {
    UdpSimulator simulator("default");
    const std::string address = "127.0.0.1:" + std::to_string(simulator.port());
    const std::string replyPort = std::to_string(simulator.replyPort());

    CliResult list = runBinary({"--udp", address, "--udp-reply-port", replyPort, "list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("udp:" + address + "  1209:5500  F1D0:0001  UDP simulator " + address +
                            "  FIDO, accepted"),
              std::string::npos)
        << list.out;

    CliResult all =
        runBinary({"--json", "--udp", address, "--udp-reply-port", replyPort, "--yes", "all"});
    ASSERT_EQ(all.status, 0) << all.err;
    json doc = json::parse(all.out);
    json hardware = doc["pages"][0]["rows"];
    EXPECT_EQ(hardware[0]["item"], "Device name");
    EXPECT_EQ(hardware[0]["value"], "UDP simulator " + address);
    EXPECT_EQ(hardware[2]["value"], "5500");
    bool getInfo = false;
    for (const json& row : hardware) {
        getInfo = getInfo || row["item"] == "authenticatorGetInfo";
    }
    EXPECT_TRUE(getInfo);
    for (int page : {1, 2}) {
        json rows = doc["pages"][page]["rows"];
        bool verified = false;
        for (const json& row : rows) {
            verified = verified || (row["item"] == "Verify Result" && row["value"] == "YES");
        }
        EXPECT_TRUE(verified) << doc["pages"][page]["page"];
    }
}

TEST(CliBinary, UdpWithoutASimulatorIsNoKeyAtOnce) {
    const std::string address = "127.0.0.1:" + std::to_string(freePort());
    CliResult r =
        runBinary({"--udp", address, "--udp-reply-port", std::to_string(freePort()), "info"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("No reply from the UDP simulator at " + address), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace orvanta::test
