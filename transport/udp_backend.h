#pragma once
// CTAPHID packets in UDP datagrams, the convention of open-source authenticator firmware
// simulators: each datagram carries one 64-byte CTAPHID packet without the report ID byte.
// The simulator listens on 127.0.0.1:8111 and sends its replies to 127.0.0.1:7112, so this
// backend binds the reply port and sends every output report to the simulator's address.
// It lists exactly one FIDO collection, so the inspector sees the simulated key like a USB
// one.

#include <cstdint>
#include <optional>
#include <string>

#include "transport/hid_backend.h"

namespace orvanta {

// pid.codes vendor (so the accepted-device table admits it) and a product ID of our own for
// "a key reached over UDP".
inline constexpr uint16_t UDP_VENDOR_ID = 0x1209;
inline constexpr uint16_t UDP_PRODUCT_ID = 0x5500;

// Where the simulators listen and answer unless told otherwise.
struct UdpEndpoints {
    std::string host = "127.0.0.1";  // the simulator's IPv4 address (or "localhost")
    uint16_t simulatorPort = 8111;
    uint16_t replyPort = 7112;  // bound locally for the replies
};

// Parses "HOST:PORT", "HOST" or ":PORT" into endpoints (the parts not given keep their
// values); empty when the text is not of that form or the port is not 1..65535.
std::optional<UdpEndpoints> parseUdpAddress(const std::string& text, UdpEndpoints base = {});
// Parses a port number 1..65535.
std::optional<uint16_t> parsePort(const std::string& text);

class UdpBackend final : public HidBackend {
  public:
    explicit UdpBackend(UdpEndpoints endpoints = {});
    const UdpEndpoints& endpoints() const { return endpoints_; }
    // "udp:HOST:PORT"
    std::string path() const;

    std::vector<HidInterfaceInfo> enumerate() override;
    // Binds the reply port on the loopback address. Fails (with the reason) when the path is
    // not ours, the host is no IPv4 address or the port is taken.
    std::unique_ptr<HidHandle> open(const std::string& path, std::string* error) override;

  private:
    UdpEndpoints endpoints_;
};

}  // namespace orvanta
