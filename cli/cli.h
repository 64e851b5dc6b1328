#pragma once
// orvanta-cli: the inspector's pages on the command line, over the same page models as
// the window.

#include <atomic>
#include <iosfwd>

#include "cli/terminal.h"
#include "transport/clock.h"

namespace orvanta::cli {

// Parses the arguments and runs one command. Returns the exit status (cli/exit_codes.h).
// Confirmations and the PIN are asked on the given terminal; every wait runs on the clock.
// stdinFd: the descriptor behind `in` for reading the PIN of --pin-stdin, or -1 to read it
// from `in`.
// interrupted: when set (by a signal handler), exchanges end and the command with them.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err,
        Terminal& terminal, Clock& clock, int stdinFd = -1,
        const std::atomic<bool>* interrupted = nullptr);
// The same on the process's controlling terminal and the machine's clock.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace orvanta::cli
