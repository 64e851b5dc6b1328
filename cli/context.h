#pragma once
// What every command works with: the three streams, the terminal, the output form and the
// answers given on the command line, and the clock every wait runs on.

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "cli/terminal_prompts.h"
#include "mds/metadata_blob.h"
#include "transport/clock.h"
#include "transport/result.h"

namespace orvanta::cli {

struct Context {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    Terminal& terminal;
    bool json = false;
    PromptOptions prompts;
    Clock& clock;
    // With json: the document the command makes; it is printed once, with "error", when
    // the command ends.
    nlohmann::json& document;
    // Set when the user interrupts the program (SIGINT, SIGTERM); exchanges then end.
    const std::atomic<bool>* interrupted = nullptr;
    // The verified metadata BLOB of --mds (none: no metadata rows).
    std::shared_ptr<const MetadataBlob> metadata{};
    // Clocks for keys inspected side by side (--all-keys), one per key; none: every key
    // waits on `clock`.
    std::function<std::shared_ptr<Clock>()> keyClock{};
    // How long a card in a reader may take to answer one command; 0 for the usual limit.
    uint32_t cardReplyLimitMs = 0;
    // What went wrong, in order, as the lines that tell the user: the command's JSON
    // "error", and the outcome line of a key of --all-keys.
    std::vector<std::string> failures{};
    // A key of --all-keys: its failures are told once, on its outcome line, not as they
    // happen.
    bool keepFailures = false;
};

// Tells the user what went wrong (on standard error, unless kept for the key's outcome
// line) and keeps it as a failure of the command.
void fail(Context& context, const std::string& line);
// Tells what went wrong as fail() does and gives the command's exit status for why.
int fail(Context& context, const Error& why, const std::string& line);
// Keeps a failure the user has been told of already (a message of a fetch).
void noteFailure(Context& context, const std::string& line);
// The failures as one text; empty when there were none.
std::string failureText(const Context& context);

}  // namespace orvanta::cli
