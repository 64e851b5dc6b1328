#pragma once
// orvanta-cli: the inspector's pages on the command line, over the same page models as
// the window.

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>

#include "cli/terminal.h"
#include "transport/clock.h"

namespace orvanta::cli {

// What a run works with besides its arguments and streams.
struct Environment {
    // Confirmations and the PIN are asked here.
    Terminal& terminal;
    // Every wait runs on it.
    Clock& clock;
    // The descriptor behind `in` for reading the PIN of --pin-stdin, or -1 to read it from
    // `in`.
    int stdinFd = -1;
    // When set (by a signal handler), exchanges end and the command with them.
    const std::atomic<bool>* interrupted = nullptr;
    // --all-keys: makes the clock of each key's timeline; none: every key waits on `clock`
    // (which must then be safe to share between threads).
    std::function<std::shared_ptr<Clock>()> keyClock{};
    // How long a card in a reader may take to answer one command; 0 for the usual limit.
    uint32_t cardReplyLimitMs = 0;
};

// Parses the arguments and runs one command. Returns the exit status (cli/exit_codes.h).
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err,
        const Environment& environment);
// The same on the process's controlling terminal and the machine's clock.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace orvanta::cli
