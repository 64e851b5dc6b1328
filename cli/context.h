#pragma once
// What every command works with: the three streams, the terminal, the output form and the
// answers given on the command line, and the clock every wait runs on.

#include <iosfwd>

#include "cli/terminal.h"
#include "cli/terminal_prompts.h"
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
};

}  // namespace orvanta::cli
