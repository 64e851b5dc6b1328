#pragma once
// CTAPHID messages built packet by packet, for the checks that break the framing rules on
// purpose or use two channels at once. Every wait is bounded on the run's clock.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/ctap_link.h"
#include "transport/ctaphid_protocol.h"

namespace orvanta::check {

using Packet = std::array<uint8_t, CTAPHID_PACKET_SIZE>;

// A message as the key sent it: its command (CTAPHID_ERROR with the code first in data).
struct RawMessage {
    uint8_t command = 0;
    Bytes data;
};

// What a CTAPHID_INIT on the broadcast channel gave.
struct RawInit {
    uint32_t channel = 0;
    uint8_t capabilities = 0;
};

Packet initPacket(uint32_t channel, uint8_t command, uint16_t length,
                  std::span<const uint8_t> data);
Packet continuationPacket(uint32_t channel, uint8_t sequence, std::span<const uint8_t> data);

class RawPackets {
  public:
    RawPackets(PacketPort& port, Clock& clock) : port_(port), clock_(clock) {}

    bool write(const Packet& packet) { return port_.write(packet); }
    // A whole message: its initialisation packet and continuations in sequence.
    bool send(uint32_t channel, uint8_t command, std::span<const uint8_t> data);
    // The next message on channel within waitMs. Keepalives are skipped (and counted).
    std::optional<RawMessage> receive(uint32_t channel, uint32_t waitMs);
    // CTAPHID_INIT on the broadcast channel: the reply that echoes nonce, within waitMs.
    // None when no such reply came; the echoed nonce is checked by whoever asks.
    std::optional<RawMessage> init(std::span<const uint8_t, CTAPHID_INIT_NONCE_LENGTH> nonce,
                                   uint32_t waitMs);
    // A channel of our own, or none.
    std::optional<RawInit> allocate(uint32_t waitMs);

    uint32_t keepalives() const { return keepalives_; }

  private:
    PacketPort& port_;
    Clock& clock_;
    uint32_t keepalives_ = 0;
};

uint32_t channelOf(std::span<const uint8_t> bytes);

}  // namespace orvanta::check
