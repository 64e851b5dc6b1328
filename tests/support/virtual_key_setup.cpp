#include "support/virtual_key_setup.h"

#include "sim/virtual_backend.h"

namespace orvanta::test {

VirtualKeySetup makeVirtualKey(const std::string& profileName) {
    auto backend = std::make_shared<VirtualBackend>();
    VirtualKey& key = backend->addDevice(profileName);
    return {backend, &key};
}

}  // namespace orvanta::test
