#pragma once
// The authenticatorGetInfo block of the hardware page: every member of the reply as rows
// keyed by its CTAP integer key, and the clientPin option as a process-wide flag.

#include <functional>
#include <string>

#include "ctap/cbor.h"

namespace orvanta {

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
