#pragma once
// Which keys the device commands look at: real keys through hidapi (the default), the
// built-in virtual key, or a firmware simulator over UDP; optionally one VID:PID and any
// FIDO collection beyond the accepted-device table.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transport/clock.h"
#include "transport/hid_backend.h"
#include "transport/udp_backend.h"

namespace orvanta::cli {

struct DeviceChoice {
    enum class Kind { Hid, Virtual, Udp };
    Kind kind = Kind::Hid;
    std::string profile = "default";  // Virtual
    UdpEndpoints udp;                 // Udp
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

// The backend of the choice, waiting on the given clock; null (with the reason) for an
// unknown virtual profile.
std::shared_ptr<HidBackend> makeBackend(const DeviceChoice& choice, Clock& clock,
                                        std::string* error);

}  // namespace orvanta::cli
