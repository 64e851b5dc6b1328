#pragma once
// The names of the built-in virtual keys for --virtual; the only file of the command line
// that knows the sim headers.

#include <optional>
#include <string>
#include <vector>

namespace orvanta::cli {

std::vector<std::string> virtualProfileNames();
// The first name of the comma-separated list that is no profile; nothing when all are.
std::optional<std::string> unknownVirtualProfile(const std::string& profiles);

}  // namespace orvanta::cli
