#pragma once
// The authenticatorGetInfo reply of a virtual key, built from its profile.

#include "sim/profile.h"
#include "sim/sim_crypto.h"

namespace orvanta {

inline constexpr uint32_t VIRTUAL_MAX_MSG_SIZE = 1200;

// Status byte 0 followed by the canonical CBOR map. pinSet is the key's current PIN state
// (the clientPin option).
Bytes buildGetInfo(const Profile& profile, bool pinSet);

}  // namespace orvanta
