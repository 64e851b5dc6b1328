#pragma once
// A virtual key for end-to-end tests.
// The backend itself is made in a translation unit of its own, so that tests can include
// this header together with the transport headers.

#include <memory>
#include <string>

#include "sim/profile.h"
#include "sim/virtual_key.h"
#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta::test {

struct VirtualKeySetup {
    std::shared_ptr<HidBackend> backend;  // a VirtualBackend holding the key
    VirtualKey* key = nullptr;
};

// A virtual backend on the clock with one key of the profile plugged in.
VirtualKeySetup makeVirtualKey(const Profile& profile, Clock& clock);
VirtualKeySetup makeVirtualKey(const std::string& profileName, Clock& clock);

}  // namespace orvanta::test
