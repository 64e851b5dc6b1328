#pragma once
// Whole files and streams read into memory, with a ceiling: what the program reads (a
// metadata BLOB, a certificate, a reply to decode) is small, and a file far larger is no
// such thing.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// Appends what `in` holds up to its end to `out`; false (and `out` holding at most `limit`
// bytes) when there is more than `limit` bytes in all. A read error ends the reading like
// the end does: the caller asks `in.bad()`.
bool readBounded(std::istream& in, size_t limit, std::vector<uint8_t>& out);

// The whole file, or nothing when it cannot be opened or read or holds more than `limit`
// bytes.
std::optional<std::vector<uint8_t>> readFileBounded(const std::string& path, size_t limit);

}  // namespace orvanta
