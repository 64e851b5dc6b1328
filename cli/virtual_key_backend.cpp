#include "cli/virtual_key_backend.h"

#include "sim/profile.h"
#include "sim/virtual_backend.h"

namespace orvanta::cli {

std::optional<std::string> unknownVirtualProfile(const std::string& profiles) {
    for (const std::string& name : splitProfileList(profiles)) {
        if (!isProfileName(name)) {
            return name;
        }
    }
    return std::nullopt;
}

std::vector<std::string> virtualProfileNames() {
    return profileNames();
}

}  // namespace orvanta::cli
