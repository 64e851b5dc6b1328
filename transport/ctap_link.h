#pragma once
// The message-level link to one key: a request under a command, its whole reply. Every
// transport is one implementation (CTAPHID over a HID handle, ISO 7816 APDUs to a card in a
// PC/SC reader); none emulates another's framing, and nothing above transport/ asks which
// one it has: what differs shows in facts().

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "transport/clock.h"
#include "transport/ctaphid_protocol.h"
#include "transport/result.h"

namespace orvanta {

using Bytes = std::vector<uint8_t>;

// No link hands up a reply longer than this, whatever its transport could carry: a longer
// one fails the call (TransportCause::Framing).
inline constexpr uint32_t REPLY_BUFFER_SIZE = 4096;

// What a key's CTAPHID_INIT reply said of itself.
struct InitFacts {
    uint8_t protocolVersion = 0;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t build = 0;
    uint8_t capabilities = 0;
};

// What the transport knows of the key beyond its listing.
struct LinkFacts {
    // The key's CTAPHID_INIT reply, once one came; a transport without CTAPHID has none.
    std::optional<InitFacts> init;
};

// How one call may run: the clock its waits run on, how long it may last in all, when to
// give up, and who hears of the key's keepalives (its status byte: processing, or waiting
// for the user's presence).
struct CallOptions {
    Clock& clock;
    uint32_t limitMs;
    std::function<bool()> cancelled;
    std::function<void(uint8_t status)> keepalive;

    bool cancelRequested() const { return cancelled && cancelled(); }
};

// Single CTAPHID packets, as they are, for checking how a key keeps the framing rules
// (channels, sequence numbers, a busy channel) that the message-level call never breaks.
class PacketPort {
  public:
    virtual ~PacketPort() = default;
    // Writes one packet (channel first, 64 bytes).
    virtual bool write(std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet) = 0;
    // Waits at most timeoutMs for the next packet of any channel: 1 when one came, 0 when
    // none did, -1 when the read failed.
    virtual int read(std::span<uint8_t, CTAPHID_PACKET_SIZE> packet, uint32_t timeoutMs) = 0;
};

class CtapLink {
  public:
    virtual ~CtapLink() = default;
    // One message: command is the CTAPHID command byte naming what the payload is
    // (CTAPHID_MSG: an ISO 7816 APDU, answered with its data and status word; CTAPHID_CBOR:
    // a CTAP2 command byte and its CBOR, answered with a status byte and CBOR; CTAPHID_PING,
    // CTAPHID_WINK and vendor commands where the transport has them).
    virtual Result<Bytes> call(uint8_t command, std::span<const uint8_t> payload,
                               const CallOptions& options) = 0;
    virtual LinkFacts facts() const = 0;
    // The next call starts afresh (a HID key is given a new channel).
    virtual void reset() {}
    // Runs work with the link's packets to itself (the key held as for one call); false,
    // and work is not run, on a transport without CTAPHID packets or when the key cannot
    // be held.
    virtual bool withPackets(const std::function<void(PacketPort&)>& work) {
        (void)work;
        return false;
    }
    // Keeps other programs off the key from now until release(), across calls that belong
    // together (an applet selected, then asked): each call alone already locks the key for
    // its length. Holds nest. False when the key could not be locked (the calls then run
    // as they would without a hold). A transport that no other program shares has nothing
    // to hold.
    virtual bool hold() { return true; }
    virtual void release() {}
};

// A hold on a link for the length of a scope (nothing without a link).
class LinkHold {
  public:
    explicit LinkHold(CtapLink* link) : link_(link) {
        if (link_ != nullptr && !link_->hold()) {
            link_ = nullptr;
        }
    }
    ~LinkHold() {
        if (link_ != nullptr) {
            link_->release();
        }
    }
    LinkHold(const LinkHold&) = delete;
    LinkHold& operator=(const LinkHold&) = delete;

  private:
    CtapLink* link_;
};

}  // namespace orvanta
