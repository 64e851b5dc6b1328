#pragma once
// The authenticatorGetInfo replies the benchmarks decode (CBOR map, status byte removed).

#include <cstdint>
#include <vector>

namespace orvanta::bench {

// The virtual key's reply with every member 1 to 31 (the "full" profile).
std::vector<uint8_t> fullGetInfo();
// A reply of close to 4 KB (the largest a reply buffer takes): the full reply with long
// lists of extensions and algorithms.
std::vector<uint8_t> largeGetInfo();

}  // namespace orvanta::bench
