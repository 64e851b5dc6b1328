#pragma once
// The two authenticatorClientPIN questions that need no PIN and spend no try: how many PIN
// tries are left (getPINRetries) and how many built-in user verification tries
// (getUVRetries).

#include <cstdint>
#include <optional>

#include "ctap/pin_protocol.h"
#include "transport/device_session.h"
#include "transport/result.h"

namespace orvanta {

struct PinRetries {
    uint64_t retries = 0;
    // The key wants to be plugged in again before it takes the next PIN (CTAP 2.1 keys
    // only; absent when the key did not say).
    std::optional<bool> powerCycleState;
};

// getPINRetries: a CTAP status error for an error status, malformed when the reply has no
// unsigned pinRetries.
Result<PinRetries> readPinRetries(DeviceSession& session, PinProtocol protocol);
// getUVRetries: as readPinRetries, for uvRetries.
Result<uint64_t> readUvRetries(DeviceSession& session, PinProtocol protocol);

}  // namespace orvanta
