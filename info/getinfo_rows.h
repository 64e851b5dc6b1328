#pragma once
// The authenticatorGetInfo block of the hardware page: every member of the reply as rows
// that start with its CTAP integer key, in key order, each member in its own format, built
// from the decoded reply.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ctap/authenticator_info.h"
#include "ctap/cbor.h"
#include "transport/device_session.h"

namespace orvanta {

// Appends one row (label, value) at the end of a list; the value text is handed over, so a
// page can keep it without a copy.
using RowSink = std::function<void(const std::string& label, std::string value)>;

// The rows of a decoded authenticatorGetInfo.
void appendGetInfoRows(const AuthenticatorInfo& info, const RowSink& sink);

// Decodes an authenticatorGetInfo reply (the CBOR map after the status byte) and appends
// its rows; returns what it decoded.
AuthenticatorInfo appendGetInfoRowsFromReply(CborSpan reply, const RowSink& sink);

// Asks the session's authenticator for its info: nothing for an error status or a failed
// exchange; a reply of the status byte alone decodes as an empty map would.
std::optional<AuthenticatorInfo> readAuthenticatorInfo(DeviceSession& session);

// Asks the session's authenticator for its info and appends the rows; an error status or a
// transport failure adds nothing and gives nothing.
std::optional<AuthenticatorInfo> appendGetInfoRows(DeviceSession& session, const RowSink& sink);

}  // namespace orvanta
