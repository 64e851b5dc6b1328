#pragma once
// The options of the window program.

#include <string>

namespace orvanta {

struct AppOptions {
    bool virtualKey = false;  // --virtual[=PROFILE]: the built-in virtual key
    std::string profile = "default";
    bool probe = false;  // --probe: say whether an accepted key is attached
    bool help = false;
    std::string error;  // non-empty: the command line was not understood
};

AppOptions parseCommandLine(int argc, const char* const* argv);
std::string usageText();

}  // namespace orvanta
