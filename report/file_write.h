#pragma once
// A file the user named, written with what the program made (an exported certificate, a
// saved report). An existing regular file is replaced whole or not at all: the data goes
// to a new file beside it, which then takes its name, so a failed write (a full disk, a
// file size limit) leaves it as it was. Anything else is written where it is: a device, a
// FIFO, a link (to /proc/self/fd/1, say) and a file in a directory that takes no new files
// keep what they are, and no special file is ever replaced by a regular one.

#include <string>
#include <string_view>
#include <system_error>

namespace orvanta {

// Writes `data` to `path`; the error of the step that failed, or none.
std::error_code writeWholeFile(const std::string& path, std::string_view data);

}  // namespace orvanta
