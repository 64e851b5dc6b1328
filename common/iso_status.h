#pragma once
// ISO 7816 status words: what the inspector acts on in a card's or a key's answer, and what
// the virtual key answers. A header of its own: peer libraries define some of these names as
// macros.

#include <cstdint>

namespace orvanta {

inline constexpr uint16_t SW_NO_ERROR = 0x9000;
inline constexpr uint16_t SW_WRONG_LENGTH = 0x6700;
inline constexpr uint16_t SW_CONDITIONS_NOT_SATISFIED = 0x6985;
inline constexpr uint16_t SW_WRONG_DATA = 0x6A80;
inline constexpr uint16_t SW_FILE_NOT_FOUND = 0x6A82;
inline constexpr uint16_t SW_INS_NOT_SUPPORTED = 0x6D00;
inline constexpr uint16_t SW_CLA_NOT_SUPPORTED = 0x6E00;
inline constexpr uint16_t SW_NO_PRECISE_DIAGNOSIS = 0x6F00;
// 61xx: xx more bytes wait for GET RESPONSE (00: 256 or more).
inline constexpr uint16_t SW_BYTES_REMAINING = 0x6100;
// 6Cxx: wrong Le; xx is the length the card has.
inline constexpr uint16_t SW_WRONG_LE = 0x6C00;

}  // namespace orvanta
