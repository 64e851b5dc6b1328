#pragma once
// The options of the window program.

#include <string>

#include "report/device_options.h"

namespace orvanta {

struct AppOptions {
    // --virtual, --udp, --udp-reply-port, --pcsc, --device (the key shown first), --mds
    // (also $ORVANTA_MDS, then the settings) and --mds-root, as the command line takes them.
    DeviceOptions device;
    bool probe = false;  // --probe: say whether an accepted key is attached
    bool help = false;
    bool version = false;  // --version: print versionText() and end
    std::string error;     // non-empty: the command line was not understood
};

AppOptions parseCommandLine(int argc, const char* const* argv);
// The keys the options ask for, as the command line's --virtual, --udp, --pcsc and --device
// take them. Without any of the first three: USB keys and the cards of the PC/SC service.
DeviceChoice deviceChoice(const AppOptions& options);
std::string usageText();
// "orvanta VERSION", the line --version prints.
std::string versionText();

}  // namespace orvanta
