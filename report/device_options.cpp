#include "report/device_options.h"

#include "mds/metadata_blob.h"
#include "sim/profile.h"
#include "sim/virtual_backend.h"

namespace orvanta {

namespace {

const std::optional<std::string> NOT_GIVEN;

std::optional<std::string> unknownProfile(const std::string& profiles) {
    for (const std::string& name : splitProfileList(profiles)) {
        if (!isProfileName(name)) {
            return name;
        }
    }
    return std::nullopt;
}

// The metadata files must be named when their options are given.
std::string missingFile(const DeviceOptionValues& values) {
    if (const auto& blob = values.of("--mds"); blob && blob->empty()) {
        return "--mds needs the metadata BLOB's file.";
    }
    if (const auto& root = values.of("--mds-root"); root && root->empty()) {
        return "--mds-root needs the root certificate's file.";
    }
    return {};
}

// The options that choose the kind of keys cannot be combined.
std::string exclusion(const DeviceOptionValues& values) {
    const bool virtualKeys = values.of("--virtual").has_value();
    const bool udp = values.of("--udp").has_value();
    const bool pcsc = values.of("--pcsc").has_value();
    if (virtualKeys && udp) {
        return "--virtual excludes --udp.";
    }
    if (pcsc && (virtualKeys || udp)) {
        return std::string(virtualKeys ? "--virtual" : "--udp") + " excludes --pcsc.";
    }
    if (pcsc && values.of("--device")) {
        return "--device names a USB key; with --pcsc name the reader instead.";
    }
    return {};
}

// The kind of keys and its details; the message of what is wrong with them, if anything.
std::string chooseKind(const DeviceOptionValues& values, DeviceChoice& choice) {
    if (const auto& profiles = values.of("--virtual")) {
        choice.kind = DeviceChoice::Kind::Virtual;
        choice.profile = profiles->empty() ? "default" : *profiles;
        if (std::optional<std::string> unknown = unknownProfile(choice.profile)) {
            return "Unknown virtual key profile \"" + *unknown +
                   "\"; profiles: " + virtualProfileList() + ".";
        }
    } else if (const auto& address = values.of("--udp")) {
        choice.kind = DeviceChoice::Kind::Udp;
        std::optional<UdpEndpoints> endpoints = parseUdpAddress(*address, choice.udp);
        if (!endpoints) {
            return "--udp needs HOST:PORT with an IPv4 host, for example 127.0.0.1:8111.";
        }
        choice.udp = *endpoints;
    } else if (const auto& reader = values.of("--pcsc")) {
        choice.kind = DeviceChoice::Kind::Pcsc;
        choice.pcscReader = *reader;
    }
    return {};
}

}  // namespace

std::optional<std::string>* DeviceOptionValues::find(std::string_view name) {
    for (size_t i = 0; i < DEVICE_OPTIONS.size(); ++i) {
        if (name == DEVICE_OPTIONS[i].name) {
            return &values[i];
        }
    }
    return nullptr;
}

const std::optional<std::string>& DeviceOptionValues::of(std::string_view name) const {
    std::optional<std::string>* slot = const_cast<DeviceOptionValues*>(this)->find(name);
    return slot != nullptr ? *slot : NOT_GIVEN;
}

bool takeDeviceOption(int argc, const char* const* argv, int& i, DeviceOptionValues& values) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    std::optional<std::string>* slot = values.find(name);
    if (slot == nullptr) {
        return false;
    }
    if (equals != std::string::npos) {
        *slot = argument.substr(equals + 1);
        return true;
    }
    const bool optional =
        DEVICE_OPTIONS[static_cast<size_t>(slot - values.values.data())].valueOptional;
    if (i + 1 < argc && (!optional || argv[i + 1][0] != '-')) {
        *slot = argv[++i];
    } else {
        *slot = std::string();
    }
    return true;
}

DeviceOptionsResult resolveDeviceOptions(const DeviceOptionValues& values) {
    DeviceOptionsResult result;
    DeviceOptions& options = result.options;
    if (result.error = missingFile(values); !result.error.empty()) {
        return result;
    }
    if (result.error = exclusion(values); !result.error.empty()) {
        return result;
    }
    if (const auto& ids = values.of("--device")) {
        const auto parsed = parseVidPid(*ids);
        if (!parsed) {
            result.error = "--device needs VID:PID as hexadecimal IDs, for example 1209:0001.";
            return result;
        }
        options.choice.vidText = parsed->first;
        options.choice.pidText = parsed->second;
    }
    if (const auto& port = values.of("--udp-reply-port")) {
        const std::optional<uint16_t> parsed = parsePort(*port);
        if (!parsed) {
            result.error = "--udp-reply-port needs a port number from 1 to 65535.";
            return result;
        }
        options.choice.udp.replyPort = *parsed;
    }
    if (result.error = chooseKind(values, options.choice); !result.error.empty()) {
        return result;
    }
    options.mds = values.of("--mds").value_or("");
    options.mdsRoot = values.of("--mds-root").value_or("");
    return result;
}

std::string deviceOptionHelp(const DeviceOptionSpec& option) {
    const std::string_view name = option.name;
    if (name == "--virtual") {
        return std::string(option.help) + " (profiles: " + virtualProfileList() + ")";
    }
    if (name == "--mds-root") {
        return std::string(option.help) + "; default: " + DEFAULT_METADATA_ROOT;
    }
    return option.help;
}

std::string virtualProfileList() {
    std::string names;
    for (const std::string& name : profileNames()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

}  // namespace orvanta
