#include "app/command_line.h"

#include <cstring>

#include "sim/profile.h"

namespace orvanta {

AppOptions parseCommandLine(int argc, const char* const* argv) {
    AppOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--virtual") {
            options.virtualKey = true;
        } else if (argument.rfind("--virtual=", 0) == 0) {
            options.virtualKey = true;
            options.profile = argument.substr(std::strlen("--virtual="));
            if (!isProfileName(options.profile)) {
                options.error = "unknown virtual key profile \"" + options.profile + "\"";
            }
        } else if (argument == "--probe") {
            options.probe = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
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
    return options;
}

std::string usageText() {
    std::string text =
        "Usage: orvanta [--virtual[=PROFILE]] [--probe]\n"
        "  Shows the attached FIDO security key: hardware info, FIDO2 and U2F attestation.\n"
        "  --virtual[=PROFILE]  show the built-in virtual key instead of real keys\n"
        "  --probe              print whether an accepted security key is attached\n"
        "                       (exit status 0 when one is, 3 when none is)\n"
        "Virtual key profiles:";
    for (const std::string& name : profileNames()) {
        text += " " + name;
    }
    return text + "\n";
}

}  // namespace orvanta
