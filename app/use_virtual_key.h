#pragma once
// The built-in virtual key as the window's backend instead of real keys.

#include <memory>
#include <string>

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta {

// profile: one of the virtual key's named profiles (an unknown name gives the default).
std::shared_ptr<HidBackend> makeVirtualKeyBackend(const std::string& profile, Clock& clock);

}  // namespace orvanta
