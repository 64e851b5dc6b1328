#pragma once
// A minimal host side for talking to a virtual key in tests: raw CTAPHID packets, whole
// messages, and the CTAP2 and APDU requests built on them. It checks nothing itself, so
// tests can see exactly what the key sent.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_backend.h"

namespace orvanta::test {

using Bytes = std::vector<uint8_t>;

struct Message {
    uint32_t cid = 0;
    uint8_t command = 0;
    Bytes payload;
    uint32_t keepalives = 0;  // keepalive reports skipped before it
};

class SimClient {
  public:
    SimClient(VirtualBackend& backend, const std::string& path);

    HidHandle& handle() { return *handle_; }
    // One raw packet (64 bytes, padded with zeros), report ID added.
    void packet(const Bytes& packet64);
    void send(uint32_t cid, uint8_t command, const Bytes& payload);
    // Reassembles the next message; keepalives are counted and skipped. Empty when a read
    // times out or the message breaks off.
    std::optional<Message> receive(uint32_t timeoutMs = 1000);
    // Allocates a channel with INIT; 0 on failure.
    uint32_t init();
    // A CTAP2 command on the client's channel: status byte + CBOR (empty on failure).
    Bytes cbor(const Bytes& commandAndParameters);
    // An APDU over CTAPHID_MSG: data + status word (empty on failure).
    Bytes apdu(const Bytes& apdu);

    uint32_t cid = 0;
    uint32_t lastKeepalives = 0;

  private:
    // One message on the client's channel and the answer of the same command.
    Bytes request(uint8_t command, const Bytes& payload);

    std::unique_ptr<HidHandle> handle_;
};

Bytes cidBytes(uint32_t cid);
uint16_t statusWord(const Bytes& reply);

}  // namespace orvanta::test
