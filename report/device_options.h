#pragma once
// The options both programs take to choose keys and the metadata BLOB (--virtual, --udp,
// --udp-reply-port, --pcsc, --device, --mds, --mds-root): one definition of each, read from
// the arguments by the window and registered with the command line's parser, and checked
// once, with the same messages in both programs.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "report/device_choice.h"

namespace orvanta {

struct DeviceOptionSpec {
    const char* name;  // "--virtual"
    // A value is optional (taken from the next argument only when that is no option) or
    // needed.
    bool valueOptional;
    const char* typeName;  // "[PROFILE,...]"
    const char* help;
};

inline constexpr std::array<DeviceOptionSpec, 7> DEVICE_OPTIONS = {{
    {"--device", false, "VID:PID", "The key with this vendor and product ID (hex)"},
    {"--virtual", true, "[PROFILE,...]",
     "Inspect built-in virtual keys, one per profile of a comma-separated list"},
    {"--udp", true, "[HOST:PORT]",
     "Inspect a firmware simulator over UDP (default 127.0.0.1:8111)"},
    {"--udp-reply-port", false, "PORT", "Local port for the simulator's replies (default 7112)"},
    {"--pcsc", true, "[READER]",
     "Inspect a key in a PC/SC reader (NFC or smart card), through pcscd"},
    {"--mds", false, "FILE",
     "Metadata BLOB (a JWT as downloaded) to name the key and check its attestation with; "
     "default: $ORVANTA_MDS"},
    {"--mds-root", false, "FILE", "Root certificate (PEM or DER) the BLOB must chain to"},
}};

// The device options as given: each one given holds its value (empty when given without
// one), in the order of DEVICE_OPTIONS.
struct DeviceOptionValues {
    std::array<std::optional<std::string>, DEVICE_OPTIONS.size()> values;

    // The slot of the option with this name; null for another name.
    std::optional<std::string>* find(std::string_view name);
    const std::optional<std::string>& of(std::string_view name) const;
};

// Reads the device option at argv[i], as "--name=VALUE" or "--name [VALUE]", into values and
// moves i past its value. False when argv[i] is no device option.
bool takeDeviceOption(int argc, const char* const* argv, int& i, DeviceOptionValues& values);

struct DeviceOptions {
    DeviceChoice choice;  // kind, profile, endpoints, reader, VID:PID
    std::string mds;      // the metadata BLOB's file, as given (empty: none)
    std::string mdsRoot;  // the root it must chain to, as given (empty: the default)
};

struct DeviceOptionsResult {
    DeviceOptions options;
    std::string error;  // non-empty: the first thing wrong with the options, as a sentence
};

// Checks the values (VID:PID, profiles, address and port, which options exclude which) and
// makes the choice of keys from them.
DeviceOptionsResult resolveDeviceOptions(const DeviceOptionValues& values);

// The option's help as --help lists it (with the profiles, or the default root).
std::string deviceOptionHelp(const DeviceOptionSpec& option);

// The virtual key profiles, comma-separated ("default, full, ...").
std::string virtualProfileList();

}  // namespace orvanta
