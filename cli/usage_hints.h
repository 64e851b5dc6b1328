#pragma once
// Plainer words than the parser's for the usual slips on the command line: a command name
// mistyped, and an option of the program itself given after the command.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace orvanta::cli {

// After a failed parse of app: the sentence that names the slip, or none when the parser's
// own message says it best.
std::optional<std::string> usageHint(CLI::App& app);

}  // namespace orvanta::cli
