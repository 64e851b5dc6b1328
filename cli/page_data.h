#pragma once
// The typed values behind the pages as JSON: the key's HID identity, its applet versions and
// every authenticatorGetInfo member by name.
//   {"device": {"product": ..., "vendorId": "1209", "productId": "0001",
//               "releaseNumber": "0100", "path": ...},
//    "appletVersions": {"identify": ..., "fingerprintModule": ..., "winHello": ..., "otp": ...,
//                       "piv": ..., "gids": ..., "ndef": true, "u2f": ...},
//    "authenticatorGetInfo": {"versions": [...], "options": {"rk": true, ...}, ...}}
// A version that could not be read, and a getInfo member the key did not send, is null or
// left out; numbers are unsigned integers; byte strings are upper-case hex.

#include <nlohmann/json.hpp>

#include "ctap/authenticator_info.h"
#include "info/device_context.h"

namespace orvanta::cli {

nlohmann::json authenticatorInfoJson(const AuthenticatorInfo& info);
nlohmann::json hardwareData(const DeviceRecord& device, const DeviceContext::Facts& facts);

}  // namespace orvanta::cli
