#include "app/command_line.h"

#include <cstring>

#include "orvanta_version.h"
#include "sim/profile.h"
#include "sim/virtual_backend.h"

namespace orvanta {

namespace {

// The value of an option given as "--name=VALUE" or "--name VALUE"; optional values are
// taken from the next argument only when it is no option.
bool optionValue(const std::string& name, bool optional, int argc, const char* const* argv, int& i,
                 std::string& value, bool& given) {
    const std::string argument = argv[i];
    if (argument.rfind(name + "=", 0) == 0) {
        value = argument.substr(name.size() + 1);
        given = true;
        return true;
    }
    if (argument != name) {
        return false;
    }
    given = false;
    if (i + 1 < argc && (!optional || argv[i + 1][0] != '-')) {
        value = argv[++i];
        given = true;
    }
    return true;
}

}  // namespace

AppOptions parseCommandLine(int argc, const char* const* argv) {
    AppOptions options;
    std::string udpAddress;
    std::string replyPort;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string value;
        bool given = false;
        if (argument == "--virtual") {
            options.virtualKey = true;
        } else if (argument.rfind("--virtual=", 0) == 0) {
            options.virtualKey = true;
            options.profile = argument.substr(std::strlen("--virtual="));
            for (const std::string& name : splitProfileList(options.profile)) {
                if (!isProfileName(name)) {
                    options.error = "unknown virtual key profile \"" + name + "\"";
                }
            }
        } else if (optionValue("--udp", true, argc, argv, i, value, given)) {
            options.udp = true;
            udpAddress = value;
        } else if (optionValue("--pcsc", true, argc, argv, i, value, given)) {
            options.pcsc = true;
            options.pcscReader = value;
        } else if (optionValue("--udp-reply-port", false, argc, argv, i, value, given)) {
            replyPort = given ? value : std::string("?");
        } else if (optionValue("--mds", false, argc, argv, i, value, given)) {
            options.mds = value;
            if (!given) {
                options.error = "--mds needs the metadata BLOB's file";
            }
        } else if (optionValue("--mds-root", false, argc, argv, i, value, given)) {
            options.mdsRoot = value;
            if (!given) {
                options.error = "--mds-root needs the root certificate's file";
            }
        } else if (optionValue("--device", false, argc, argv, i, value, given)) {
            const auto ids = parseVidPid(value);
            if (ids) {
                options.vidText = ids->first;
                options.pidText = ids->second;
            } else {
                options.error = "--device needs VID:PID as hexadecimal IDs, for example 1209:0001";
            }
        } else if (argument == "--probe") {
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
    if (!replyPort.empty()) {
        const std::optional<uint16_t> port = parsePort(replyPort);
        if (port) {
            options.udpEndpoints.replyPort = *port;
        } else {
            options.error = "--udp-reply-port needs a port number from 1 to 65535";
        }
    }
    if (options.udp) {
        const std::optional<UdpEndpoints> endpoints =
            parseUdpAddress(udpAddress, options.udpEndpoints);
        if (endpoints) {
            options.udpEndpoints = *endpoints;
        } else {
            options.error = "--udp needs HOST:PORT with an IPv4 host, for example 127.0.0.1:8111";
        }
        if (options.virtualKey) {
            options.error = "--virtual and --udp exclude each other";
        }
    }
    if (options.pcsc && (options.virtualKey || options.udp)) {
        options.error = "--pcsc excludes --virtual and --udp";
    }
    return options;
}

DeviceChoice deviceChoice(const AppOptions& options) {
    DeviceChoice choice;
    if (options.virtualKey) {
        choice.kind = DeviceChoice::Kind::Virtual;
        choice.profile = options.profile;
    } else if (options.udp) {
        choice.kind = DeviceChoice::Kind::Udp;
        choice.udp = options.udpEndpoints;
    } else if (options.pcsc) {
        choice.kind = DeviceChoice::Kind::Pcsc;
        choice.pcscReader = options.pcscReader;
    } else {
        choice.withCards = true;
    }
    choice.vidText = options.vidText;
    choice.pidText = options.pidText;
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
