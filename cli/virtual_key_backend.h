#pragma once
// The built-in virtual key as a HID backend for --virtual; the only file of the command
// line that knows the sim headers.

#include <memory>
#include <string>
#include <vector>

#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta::cli {

// A backend with one virtual key of the named profile; null for an unknown name.
std::shared_ptr<HidBackend> makeVirtualKeyBackend(const std::string& profile, Clock& clock);
std::vector<std::string> virtualProfileNames();
bool isVirtualProfile(const std::string& name);

}  // namespace orvanta::cli
