#include "app/use_virtual_key.h"

#include <memory>

#include "sim/virtual_backend.h"
#include "transport/device_manager.h"

namespace orvanta {

void useVirtualKey(const std::string& profile) {
    auto backend = std::make_shared<VirtualBackend>();
    backend->addDevice(profile);
    deviceManager().setBackend(std::move(backend));
}

}  // namespace orvanta
