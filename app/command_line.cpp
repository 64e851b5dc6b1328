#include "app/command_line.h"

#include "orvanta_version.h"
#include "sim/profile.h"

namespace orvanta {

AppOptions parseCommandLine(int argc, const char* const* argv) {
    AppOptions options;
    DeviceOptionValues device;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (takeDeviceOption(argc, argv, i, device)) {
            continue;
        }
        if (argument == "--probe") {
            options.probe = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument.rfind("-platform", 0) == 0 || argument.rfind("-style", 0) == 0 ||
                   argument.rfind("-display", 0) == 0) {
            // Qt's own options: QApplication takes them (and their value) itself.
            if (argument.find('=') == std::string::npos && i + 1 < argc) {
                ++i;
            }
        } else {
            options.error = "unknown option \"" + argument + "\"";
        }
    }
    if (options.error.empty()) {
        DeviceOptionsResult resolved = resolveDeviceOptions(device);
        options.device = std::move(resolved.options);
        options.error = std::move(resolved.error);
    }
    return options;
}

DeviceChoice deviceChoice(const AppOptions& options) {
    DeviceChoice choice = options.device.choice;
    // Without a kind asked for: USB keys and the cards of the PC/SC service.
    choice.withCards = choice.kind == DeviceChoice::Kind::Hid;
    return choice;
}

std::string usageText() {
    std::string text =
        "Usage: orvanta [--virtual[=PROFILE,...] | --udp [HOST:PORT] | --pcsc [READER]]\n"
        "               [--device VID:PID] [--probe] [--version]\n"
        "  Shows the attached FIDO security key: hardware info, FIDO2 and U2F attestation.\n"
        "  --virtual[=PROFILE]  show the built-in virtual key instead of real keys; a\n"
        "                       comma-separated list of profiles attaches one key each\n"
        "  --udp [HOST:PORT]    show a firmware simulator over UDP (default 127.0.0.1:8111,\n"
        "                       replies to local port 7112, or --udp-reply-port PORT)\n"
        "  --pcsc [READER]      show only keys in PC/SC readers (NFC or smart card), or the\n"
        "                       one in READER; by default they are listed beside USB keys\n"
        "                       whenever pcscd runs\n"
        "  --device VID:PID     show this key first (hexadecimal IDs)\n"
        "  --mds FILE           name keys and check their attestation with this metadata\n"
        "                       BLOB (default: $ORVANTA_MDS, else the last one loaded)\n"
        "  --mds-root FILE      the root certificate the BLOB must chain to\n"
        "  --probe              print whether an accepted security key is attached\n"
        "                       (exit status 0 when one is, 3 when none is)\n"
        "  --version            print the program's name and version\n"
        "Virtual key profiles:";
    for (const std::string& name : profileNames()) {
        text += " " + name;
    }
    return text + "\n";
}

std::string versionText() {
    return "orvanta " ORVANTA_VERSION "\n";
}

}  // namespace orvanta
