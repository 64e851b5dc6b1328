#include "support/virtual_key_setup.h"

#include "sim/virtual_backend.h"

namespace orvanta::test {

VirtualKeySetup makeVirtualKey(const Profile& profile, Clock& clock) {
    auto backend = std::make_shared<VirtualBackend>(clock);
    VirtualKey& key = backend->addDevice(profile);
    return {backend, &key};
}

VirtualKeySetup makeVirtualKey(const std::string& profileName, Clock& clock) {
    return makeVirtualKey(profileByName(profileName), clock);
}

}  // namespace orvanta::test
