#pragma once
// The authenticatorGetInfo block of the hardware page: every member of the reply as rows
// keyed by its CTAP integer key, and the clientPin option as a process-wide flag.

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "ctap/cbor.h"

namespace orvanta {

// The options the hardware page shows, in the order it shows them; other names are left
// out.
inline constexpr std::array<std::string_view, 19> GETINFO_OPTION_NAMES = {
    "ep",
    "rk",
    "up",
    "uv",
    "plat",
    "uvAcfg",
    "alwaysUv",
    "credMgmt",
    "authnrCfg",
    "bioEnroll",
    "clientPin",
    "largeBlobs",
    "uvBioEnroll",
    "pinUvAuthToken",
    "setMinPINLength",
    "makeCredUvNotRqd",
    "credentialMgmtPreview",
    "userVerificationMgmtPreview",
    "noMcGaPermissionsWithClientPin",
};

// Whether the last authenticatorGetInfo reported a client PIN; the refresh resets it.
extern bool clientPinSet;

// Appends one row (label, value) at the end of a list; the value text is handed over, so a
// page can keep it without a copy.
using RowSink = std::function<void(const std::string& label, std::string value)>;

// Decodes an authenticatorGetInfo reply (the CBOR map after the status byte) into rows and
// sets clientPinSet from the clientPin option (left as it was when the option is absent).
void appendGetInfoRowsFromReply(CborSpan reply, const RowSink& sink);

// Asks the selected authenticator for its info and appends the rows; an error status or a
// transport failure adds nothing.
void appendGetInfoRows(const RowSink& sink);

}  // namespace orvanta
