#pragma once
// The typed values behind the pages as JSON: the key's HID identity, its applet versions and
// every authenticatorGetInfo member by name.
//   {"device": {"product": ..., "vendorId": "1209", "productId": "0001",
//               "releaseNumber": "0100", "path": ...},
//    "appletVersions": {"identify": ..., "fingerprintModule": ..., "winHello": ..., "otp": ...,
//                       "piv": ..., "gids": ..., "ndef": true, "u2f": ...},
//    "authenticatorGetInfo": {"versions": [...], "options": {"rk": true, ...}, ...},
//    "health": {"pinRetries": 8, "powerCycleState": null, "uvRetries": null,
//               "remainingDiscoverableCredentials": 25}}
// A version that could not be read, and a getInfo member the key did not send, is null or
// left out; numbers are unsigned integers; byte strings are upper-case hex.
// The certification pages:
//   {"certificates": [{"version": 3, "serialNumber": hex, "subject": ..., "issuer": ...,
//                      "notBefore": "2024-01-01T00:00:00Z", "notAfter": ..., "publicKey": hex,
//                      "transports": hex or null, "verified": true/false/null}, ...]}

#include <nlohmann/json.hpp>

#include "ctap/authenticator_info.h"
#include "info/device_context.h"
#include "info/page_model.h"

namespace orvanta::report {

nlohmann::json authenticatorInfoJson(const AuthenticatorInfo& info);
// With the page, also what the metadata BLOB said about the key.
nlohmann::json hardwareData(const DeviceRecord& device, const DeviceContext::Facts& facts,
                            const PageModel* page = nullptr);
nlohmann::json certificatePageData(const CertificatePage& page);

}  // namespace orvanta::report
