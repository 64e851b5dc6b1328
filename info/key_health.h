#pragma once
// The key's health as the hardware page shows it after the getInfo rows: the PIN tries and
// built-in user verification tries left, and the room left for discoverable credentials.
// Reading it needs no PIN and spends no try.

#include <cstdint>
#include <optional>

#include "ctap/authenticator_info.h"
#include "ctap/pin_retries.h"
#include "info/page_model.h"
#include "transport/device_session.h"

namespace orvanta {

inline constexpr const char* PIN_RETRIES_LABEL = "PIN retries";
inline constexpr const char* UV_RETRIES_LABEL = "UV retries";
inline constexpr const char* CREDENTIAL_SLOTS_LABEL = "Credential slots left";

// What the key answered; a question not asked, or not answered, is empty.
struct KeyHealth {
    std::optional<PinRetries> pin;
    std::optional<uint64_t> uvRetries;
};

// A key with a client PIN (set or not), or one that lists a PIN/UV auth protocol.
bool hasPinProtocol(const AuthenticatorInfo& info);
// A key with user verification of its own (the "uv" option is there, configured or not).
bool hasBuiltInUv(const AuthenticatorInfo& info);

// Asks what the key's getInfo says it can answer.
KeyHealth readKeyHealth(DeviceSession& session, const AuthenticatorInfo& info);

// The rows: "PIN retries", "UV retries" and "Credential slots left", each when known.
void appendHealthRows(const AuthenticatorInfo& info, const KeyHealth& health, HardInfoPage& page);

}  // namespace orvanta
