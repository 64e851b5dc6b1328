#pragma once
// A quick look for attached security keys, for scripts that choose between real keys and
// the virtual one.

#include <ostream>

namespace orvanta {

inline constexpr int PROBE_KEY_PRESENT = 0;
inline constexpr int PROBE_NO_KEY = 3;

// Enumerates once and prints one line per accepted FIDO key, including keys the system
// lists but will not open (the window then says why). Returns PROBE_KEY_PRESENT or
// PROBE_NO_KEY.
int runProbe(std::ostream& out);

}  // namespace orvanta
