#pragma once
// What every command works with: the three streams, the terminal, the output form and the
// answers given on the command line, and the clock every wait runs on.

#include <atomic>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/terminal.h"
#include "cli/terminal_prompts.h"
#include "mds/metadata_blob.h"
#include "transport/clock.h"

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
};

}  // namespace orvanta::cli
