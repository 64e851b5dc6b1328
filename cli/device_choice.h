#pragma once
// Which keys the device commands look at: the choice the window takes too
// (report/device_choice.h).

#include "report/device_choice.h"

namespace orvanta::cli {

using orvanta::DeviceChoice;
using orvanta::makeKeySource;
using orvanta::parseVidPid;

}  // namespace orvanta::cli
