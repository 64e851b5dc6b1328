#pragma once
// What both front ends tell a user who may not open a listed key's /dev/hidraw node. On
// Debian 12 udev itself marks FIDO keys (its fido_id probe, 60-fido-id.rules, sets
// ID_SECURITY_TOKEN=1) and hands them to the user of a local seat session
// (70-uaccess.rules); a session without a seat needs a rule that gives the node to a group.
// The README's "Key access" section says the same at length.

namespace orvanta {

inline constexpr const char* KEY_ACCESS_RULE =
    R"(SUBSYSTEM=="hidraw", ENV{ID_SECURITY_TOKEN}=="1", GROUP="plugdev", MODE="0660")";

inline constexpr const char* KEY_ACCESS_ADVICE =
    "udev gives FIDO keys to the user at the machine's seat (60-fido-id.rules, "
    "70-uaccess.rules); without a seat session (ssh, a container) add the udev rule "
    R"(SUBSYSTEM=="hidraw", ENV{ID_SECURITY_TOKEN}=="1", GROUP="plugdev", MODE="0660")"
    ", join plugdev and replug the key";

}  // namespace orvanta
