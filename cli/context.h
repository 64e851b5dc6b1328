#pragma once
// What every command works with: the three streams, the terminal, the output form and the
// answers given on the command line.

#include <iosfwd>

#include "cli/terminal.h"
#include "cli/terminal_prompts.h"

namespace orvanta::cli {

struct Context {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    Terminal& terminal;
    bool json = false;
    PromptOptions prompts;
};

}  // namespace orvanta::cli
