#include "cli/virtual_key_backend.h"

#include "sim/profile.h"
#include "sim/virtual_backend.h"

namespace orvanta::cli {

std::shared_ptr<HidBackend> makeVirtualKeyBackend(const std::string& profile) {
    if (!isProfileName(profile)) {
        return nullptr;
    }
    auto backend = std::make_shared<VirtualBackend>();
    backend->addDevice(profile);
    return backend;
}

std::vector<std::string> virtualProfileNames() {
    return profileNames();
}

}  // namespace orvanta::cli
