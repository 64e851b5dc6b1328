#pragma once
// One virtual security key as its FIDO HID collection sees it: CTAPHID framing on the
// device side (INIT, MSG, CBOR, CANCEL, PING, WINK, keepalives while waiting for a touch,
// ERROR for bad channels, lengths, sequences and commands), over the APDU and CTAP2 sides
// of the key. Tests reach it through VirtualBackend::addDevice to touch it, switch faults
// and read the log of the requests it received.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "sim/apdu_handler.h"
#include "sim/ctap2_handler.h"
#include "sim/key_state.h"
#include "sim/profile.h"
#include "transport/clock.h"
#include "transport/ctaphid_protocol.h"

namespace orvanta {

inline constexpr size_t VIRTUAL_REPORT_LENGTH = 65;  // report ID + 64-byte packet
// How often a waiting key sends a keepalive, and how long it waits for a touch at most.
inline constexpr uint32_t KEEPALIVE_INTERVAL_MS = 100;
inline constexpr uint32_t USER_PRESENCE_TIMEOUT_MS = 30000;

// A complete request message as the key reassembled it.
struct LoggedRequest {
    uint32_t channel = 0;
    uint8_t command = 0;  // with bit 7, e.g. 0x90 for CTAPHID_CBOR
    std::vector<uint8_t> payload;
    // Command byte followed by the payload.
    std::vector<uint8_t> bytes() const;
};

class VirtualKey {
  public:
    // Every wait of the key (touch, keepalives, link delay) runs on the given clock.
    VirtualKey(Profile profile, uint32_t serial, Clock& clock);
    VirtualKey(const VirtualKey&) = delete;
    VirtualKey& operator=(const VirtualKey&) = delete;

    // --- Controls and inspection for tests and the demo.
    const Profile& profile() const { return state_.profile; }
    uint32_t serial() const { return serial_; }
    void setFault(FaultMode mode) { state_.profile.fault = mode; }
    FaultMode fault() const { return state_.profile.fault; }
    void setTouchPolicy(TouchPolicy policy);
    // The user touches the key once (the next presence check succeeds).
    void touch() { state_.presence.touch(); }
    void setLinkDelay(uint32_t ms) { state_.profile.linkDelayMs = ms; }
    void setU2fChaining(bool on) { state_.profile.u2fChaining = on; }
    void setU2fExtendedWrongLength(bool on) { state_.profile.u2fExtendedWrongLength = on; }
    // As if unplugged and plugged in again: channels, pending work, selected applet and
    // the PIN key agreement start afresh; the PIN and its retries stay.
    void powerCycle();

    bool pinSet() const { return ctap2_.pin().isSet(); }
    uint8_t pinRetries() const { return ctap2_.pin().retries(); }
    const std::vector<uint8_t>& attestationCertificate() const;
    const std::vector<uint8_t>& caCertificate() const;
    bool waitingForTouch() const { return pending_.active; }

    const std::vector<LoggedRequest>& requestLog() const { return log_; }
    void clearLog() { log_.clear(); }
    const VirtualKeyCounters& counters() const { return state_.counters; }

    // --- The HID side, used by the backend's handles.
    bool attached() const { return attached_; }
    void detach() { attached_ = false; }
    // One output report (report ID byte first).
    void writeReport(const uint8_t* report, size_t length);
    // One input report into report (report ID byte first): its length, 0 when none came
    // within timeoutMs on the key's clock, -1 when the key is gone.
    int readReport(uint8_t* report, size_t capacity, uint32_t timeoutMs);
    void flushReports() { queue_.clear(); }
    size_t queuedReports() const { return queue_.size(); }

    // --- The card side (sim/nfc_card.h): the same handlers, reached by APDUs. Each request
    // is logged as over HID (channel 0, CTAPHID_MSG or CTAPHID_CBOR).
    // One APDU for the applets and U2F, answered as over CTAPHID_MSG.
    std::vector<uint8_t> cardApdu(const uint8_t* apdu, size_t length);
    // One CTAP2 message (command byte and CBOR), as over CTAPHID_CBOR: the answer, or the
    // work that waits for the user's touch.
    Ctap2Outcome cardCtap2(const uint8_t* message, size_t length);
    // One presence check; a touch that answers it is used up.
    bool cardTouched();
    // The request that waited for a touch is over (done, cancelled or timed out).
    void cardWaitEnded() { state_.presence.consume(); }

  private:
    enum class ReplyKind { Init, Error, Message };
    struct Assembly {
        bool active = false;
        uint32_t cid = 0;
        uint8_t command = 0;
        uint16_t length = 0;
        uint8_t nextSequence = 0;
        std::vector<uint8_t> data;
    };
    struct Pending {
        bool active = false;
        uint32_t cid = 0;
        uint8_t command = 0;
        uint32_t started = 0;
        std::function<std::vector<uint8_t>()> complete;
    };

    void initPacket(uint32_t cid, const uint8_t* packet);
    void continuationPacket(uint32_t cid, const uint8_t* packet);
    void dispatch(uint32_t cid, uint8_t command, std::vector<uint8_t> payload);
    void handleInit(uint32_t cid, const uint8_t* nonce);
    void handleCbor(uint32_t cid, const std::vector<uint8_t>& payload);
    void finishPending();
    void sendError(uint32_t cid, CtaphidError code);
    void queueKeepalive(uint32_t cid, uint8_t status);
    void queueReply(uint32_t cid, uint8_t command, std::vector<uint8_t> payload, ReplyKind kind);
    void queuePackets(uint32_t cid, uint8_t command, const std::vector<uint8_t>& payload,
                      uint16_t announced);
    bool knownChannel(uint32_t cid) const { return channels_.count(cid) != 0; }
    void linkDelay() const;

    uint32_t serial_;
    Clock& clock_;
    VirtualKeyState state_;
    ApduHandler apdu_;
    Ctap2Handler ctap2_;
    bool attached_ = true;
    std::set<uint32_t> channels_;
    uint32_t nextChannel_;
    Assembly assembly_;
    Pending pending_;
    std::optional<uint32_t> stalledChannel_;  // EndlessKeepalive: the channel kept waiting
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<LoggedRequest> log_;
};

}  // namespace orvanta
