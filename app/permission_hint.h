#pragma once
// The one-line hint the window shows when the system lists a FIDO key that cannot be
// opened (on Linux, usually missing access to /dev/hidraw*).

#include <string>
#include <vector>

#include "transport/device_list.h"

namespace orvanta {

// Empty when every listed key could be opened. Names the first failure and how to fix it;
// further failures are counted. Cards in PC/SC readers are not named.
std::string permissionHint(const std::vector<OpenFailure>& failures);

}  // namespace orvanta
