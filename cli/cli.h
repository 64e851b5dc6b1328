#pragma once
// orvanta-cli: the inspector's pages on the command line, over the same page models as
// the window.

#include <iosfwd>

#include "cli/terminal.h"
#include "transport/clock.h"

namespace orvanta::cli {

// Parses the arguments and runs one command. Returns the exit status (cli/exit_codes.h).
// Confirmations and the PIN are asked on the given terminal; every wait runs on the clock.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err,
        Terminal& terminal, Clock& clock);
// The same on the process's controlling terminal and the machine's clock.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace orvanta::cli
