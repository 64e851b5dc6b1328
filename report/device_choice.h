#pragma once
// Which keys a front end looks at: real keys through hidapi (the default), built-in virtual
// keys, a firmware simulator over UDP, or cards in PC/SC readers; optionally one VID:PID and
// any FIDO collection beyond the accepted-device table. The command line and the window take
// the same choice.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transport/clock.h"
#include "transport/hid_backend.h"
#include "transport/key_source.h"
#include "transport/pcsc_backend.h"
#include "transport/udp_backend.h"

namespace orvanta {

struct DeviceChoice {
    enum class Kind { Hid, Virtual, Udp, Pcsc };
    Kind kind = Kind::Hid;
    // Virtual: one key per profile of the comma-separated list ("full,pin").
    std::string profile = "default";
    UdpEndpoints udp;        // Udp
    std::string pcscReader;  // Pcsc: the reader's name; empty for every reader
    // Cards: how long one command may wait for the card's answer, and (when set) what ends
    // every such wait at once, opening a card included.
    uint32_t cardReplyLimitMs = PCSC_REPLY_LIMIT_MS;
    const std::atomic<bool>* cardStop = nullptr;
    // Hid: the cards of the PC/SC service too, after the USB keys (the window's default).
    bool withCards = false;
    bool acceptAny = false;
    // --device VID:PID as four-digit hex texts; empty for the first accepted key.
    std::string vidText;
    std::string pidText;
    // When set, used as it is instead of the kind's backend (tests, embedding).
    std::shared_ptr<HidBackend> backend;
};

// "1209:0001" -> ("1209", "0001"), upper case, four digits; nothing for another form or a
// zero ID.
std::optional<std::pair<std::string, std::string>> parseVidPid(const std::string& text);

// The keys of the choice, waiting on the given clock; null (with the reason) for an unknown
// virtual profile in the list. Every transport's source is made here.
std::shared_ptr<KeySource> makeKeySource(const DeviceChoice& choice, Clock& clock,
                                         std::string* error);

// Whether the backend of the choice lists PC/SC cards, so a front end follows their
// insertion and removal. A backend given as it is counts as none.
bool listsCards(const DeviceChoice& choice);

}  // namespace orvanta
