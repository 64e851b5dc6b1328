#include "support/virtual_key_setup.h"

#include "sim/virtual_backend.h"

namespace orvanta::test {

VirtualKeySetup makeVirtualKey(const Profile& profile) {
    auto backend = std::make_shared<VirtualBackend>();
    VirtualKey& key = backend->addDevice(profile);
    return {backend, &key};
}

VirtualKeySetup makeVirtualKey(const std::string& profileName) {
    return makeVirtualKey(profileByName(profileName));
}

}  // namespace orvanta::test
