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

enum class FileReadProblem {
    CannotOpen,
    NotRegular,  // a directory, a FIFO, a device: nothing a file name of ours should name
    TooLarge,
    ReadFailed,
};

struct FileRead {
    std::vector<uint8_t> bytes;
    std::optional<FileReadProblem> problem;  // none: `bytes` is the whole file
};

// The whole file, when it is a regular file of at most `limit` bytes. Anything else is
// refused without waiting: a FIFO that no one writes to does not hold the caller up.
FileRead readRegularFile(const std::string& path, size_t limit);

// The whole regular file, or nothing when readRegularFile names a problem.
std::optional<std::vector<uint8_t>> readFileBounded(const std::string& path, size_t limit);

}  // namespace orvanta
