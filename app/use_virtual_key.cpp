#include "app/use_virtual_key.h"

#include "sim/virtual_backend.h"

namespace orvanta {

std::shared_ptr<HidBackend> makeVirtualKeyBackend(const std::string& profile, Clock& clock) {
    auto backend = std::make_shared<VirtualBackend>(clock);
    backend->addDevice(profile);
    return backend;
}

}  // namespace orvanta
