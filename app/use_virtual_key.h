#pragma once
// Puts the built-in virtual key under the program's device manager instead of real keys.

#include <string>

namespace orvanta {

// profile: one of the virtual key's named profiles (an unknown name gives the default).
void useVirtualKey(const std::string& profile);

}  // namespace orvanta
