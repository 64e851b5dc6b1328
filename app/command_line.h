#pragma once
// The options of the window program.

#include <string>

#include "report/device_choice.h"

namespace orvanta {

struct AppOptions {
    bool virtualKey = false;  // --virtual[=PROFILE,...]: built-in virtual keys, one per profile
    std::string profile = "default";
    bool udp = false;  // --udp [HOST:PORT] (and --udp-reply-port PORT): a simulator over UDP
    UdpEndpoints udpEndpoints;
    bool pcsc = false;  // --pcsc [READER]: only cards in PC/SC readers (the named one's)
    std::string pcscReader;
    std::string vidText;  // --device VID:PID: the key shown first, as four-digit hex texts
    std::string pidText;
    std::string mds;      // --mds FILE: the metadata BLOB (also $ORVANTA_MDS, then the settings)
    std::string mdsRoot;  // --mds-root FILE: the root the BLOB must chain to
    bool probe = false;   // --probe: say whether an accepted key is attached
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
