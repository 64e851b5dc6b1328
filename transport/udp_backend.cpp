#include "transport/udp_backend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "transport/ctaphid_protocol.h"
#include "transport/unique_fd.h"

namespace orvanta {

namespace {

constexpr size_t UDP_PACKET_LENGTH = CTAPHID_PACKET_SIZE;  // one packet a datagram
constexpr size_t REPORT_LENGTH = UDP_PACKET_LENGTH + 1;    // with the report ID byte

std::optional<in_addr> ipv4Address(const std::string& host) {
    in_addr address{};
    const std::string numeric = host == "localhost" ? "127.0.0.1" : host;
    if (inet_pton(AF_INET, numeric.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address;
}

bool isLoopback(in_addr address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

// One UDP socket that stands for an open FIDO collection.
class UdpHandle final : public HidHandle {
  public:
    UdpHandle(UniqueFd fd, sockaddr_in simulator) : fd_(std::move(fd)), simulator_(simulator) {}

    int write(const uint8_t* report, size_t length) override {
        if (report == nullptr || length == 0) {
            return -1;
        }
        // The datagram is the packet without the report ID byte, always 64 bytes.
        uint8_t packet[UDP_PACKET_LENGTH] = {};
        size_t payload = length - 1 < UDP_PACKET_LENGTH ? length - 1 : UDP_PACKET_LENGTH;
        std::memcpy(packet, report + 1, payload);
        ssize_t sent;
        do {
            sent = ::sendto(fd_.get(), packet, sizeof packet, MSG_DONTWAIT,
                            reinterpret_cast<const sockaddr*>(&simulator_), sizeof simulator_);
        } while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(sizeof packet)) {
            dropQueuedErrors();
            return -1;
        }
        return static_cast<int>(length);
    }

    int read(uint8_t* report, size_t capacity, uint32_t timeoutMs) override {
        if (report == nullptr || capacity == 0) {
            return -1;
        }
        using Steady = std::chrono::steady_clock;
        const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int got = receive(report, capacity);
            if (got != 0) {
                return got;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
            if (left.count() <= 0) {
                return 0;
            }
            pollfd waiter{fd_.get(), POLLIN, 0};
            int ready = ::poll(&waiter, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) {
                return -1;
            }
        }
    }

    void flush() override {
        uint8_t scratch[REPORT_LENGTH];
        while (receive(scratch, sizeof scratch) > 0) {
        }
    }

    size_t inputReportLength() const override { return REPORT_LENGTH; }
    size_t outputReportLength() const override { return REPORT_LENGTH; }

  private:
    // One queued datagram from the simulator as a report (report ID 0, the packet padded
    // to 64 bytes); 0 when none is queued, -1 on a socket failure. Datagrams from other
    // addresses are dropped.
    int receive(uint8_t* report, size_t capacity) {
        for (;;) {
            uint8_t packet[UDP_PACKET_LENGTH] = {};
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t got = ::recvfrom(fd_.get(), packet, sizeof packet, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return 0;
                }
                // ECONNREFUSED: nothing listens on the simulator's port (an ICMP error,
                // reported thanks to IP_RECVERR), so no reply will ever come.
                dropQueuedErrors();
                return -1;
            }
            // Only the simulator speaks for the key: a datagram from any other address or
            // port of the machine is not a report.
            if (from.sin_family != AF_INET || from.sin_addr.s_addr != simulator_.sin_addr.s_addr ||
                from.sin_port != simulator_.sin_port) {
                continue;
            }
            // A longer datagram was cut to the packet length by recvfrom; a shorter one is
            // padded with zeros, as a HID report always has its full length.
            report[0] = 0;
            size_t copy = capacity - 1 < UDP_PACKET_LENGTH ? capacity - 1 : UDP_PACKET_LENGTH;
            std::memcpy(report + 1, packet, copy);
            return static_cast<int>(copy + 1);
        }
    }

    // Empties the socket's error queue, so a reported error does not keep poll() awake.
    void dropQueuedErrors() {
        uint8_t scratch[256];
        for (int i = 0; i < 64; ++i) {
            iovec part{scratch, sizeof scratch};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            if (::recvmsg(fd_.get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
                return;
            }
        }
    }

    UniqueFd fd_;
    sockaddr_in simulator_;
};

}  // namespace

std::optional<uint16_t> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

std::optional<UdpEndpoints> parseUdpAddress(const std::string& text, UdpEndpoints base) {
    if (text.empty()) {
        return base;
    }
    size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (colon != std::string::npos) {
        std::optional<uint16_t> port = parsePort(text.substr(colon + 1));
        if (!port) {
            return std::nullopt;
        }
        base.simulatorPort = *port;
    }
    if (!host.empty()) {
        if (!ipv4Address(host)) {
            return std::nullopt;
        }
        base.host = host;
    }
    return base;
}

UdpBackend::UdpBackend(UdpEndpoints endpoints) : endpoints_(std::move(endpoints)) {}

std::string UdpBackend::path() const {
    return "udp:" + endpoints_.host + ":" + std::to_string(endpoints_.simulatorPort);
}

std::vector<HidInterfaceInfo> UdpBackend::enumerate() {
    HidInterfaceInfo info;
    info.path = path();
    info.vendorId = UDP_VENDOR_ID;
    info.productId = UDP_PRODUCT_ID;
    info.releaseNumber = 0x0100;
    info.transport = TransportKind::Simulator;
    info.placeLabel = "UDP";
    info.productString =
        "UDP simulator " + endpoints_.host + ":" + std::to_string(endpoints_.simulatorPort);
    info.usagePage = 0xF1D0;
    info.usage = 0x01;
    return {info};
}

std::unique_ptr<HidHandle> UdpBackend::open(const std::string& path, std::string* error) {
    auto fail = [error](const std::string& reason) -> std::unique_ptr<HidHandle> {
        if (error != nullptr) {
            *error = reason;
        }
        return nullptr;
    };
    if (path != this->path()) {
        return fail("no such device");
    }
    std::optional<in_addr> host = ipv4Address(endpoints_.host);
    if (!host) {
        return fail("not an IPv4 address: " + endpoints_.host);
    }
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return fail(std::string("socket: ") + std::strerror(errno));
    }
    // An unconnected socket hears of ICMP errors (nobody on the simulator's port) only
    // with IP_RECVERR; without it every read would wait out its whole limit.
    int on = 1;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    // Replies from a simulator on this machine come to the loopback address; only a remote
    // simulator needs the port open on every interface.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(endpoints_.replyPort);
    local.sin_addr.s_addr = htonl(isLoopback(*host) ? INADDR_LOOPBACK : INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int saved = errno;
        return fail("cannot bind UDP port " + std::to_string(endpoints_.replyPort) + ": " +
                    std::strerror(saved));
    }
    sockaddr_in simulator{};
    simulator.sin_family = AF_INET;
    simulator.sin_port = htons(endpoints_.simulatorPort);
    simulator.sin_addr = *host;
    return std::make_unique<UdpHandle>(std::move(fd), simulator);
}

}  // namespace orvanta
