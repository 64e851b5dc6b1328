#include "cli/virtual_key_backend.h"

#include "sim/profile.h"
#include "sim/virtual_backend.h"

namespace orvanta::cli {

std::shared_ptr<HidBackend> makeVirtualKeyBackend(const std::string& profile, Clock& clock) {
    if (!isProfileName(profile)) {
        return nullptr;
    }
    auto backend = std::make_shared<VirtualBackend>(clock);
    backend->addDevice(profile);
    return backend;
}

bool isVirtualProfile(const std::string& name) {
    return isProfileName(name);
}

std::vector<std::string> virtualProfileNames() {
    return profileNames();
}

}  // namespace orvanta::cli
