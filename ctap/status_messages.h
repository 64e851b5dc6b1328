#pragma once
// The sentence shown to the user for a CTAP status byte or an ISO 7816 status word.

#include <cstdint>
#include <string>

namespace orvanta {

// The code a failed exchange stands for where outcomes are shown as numbers.
inline constexpr uint16_t TRANSPORT_FAILED = 0xFFFB;

// Exact-code lookup in the CTAP status table (0x00 to 0xFF) and the status-word table;
// every other code, negative ones included, gives "Unknown Error".
std::string statusMessage(int32_t code);

}  // namespace orvanta
