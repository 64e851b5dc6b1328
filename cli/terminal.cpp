#include "cli/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iterator>

#include "ctap/secure_wipe.h"
#include "transport/unique_fd.h"

namespace orvanta::cli {

namespace {

// Longest line we take; a PIN is at most 63 bytes, answers are short.
constexpr size_t MAX_LINE = 255;

// The controlling terminal, opened afresh for each use; not valid when there is none.
UniqueFd openTty() {
    return UniqueFd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
}

// The terminal mode to put back when a signal ends the program while echo is off.
int interruptedFd = -1;
termios interruptedMode{};
constexpr int RESTORE_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP};

extern "C" void restoreEchoAndRaise(int signal) {
    if (interruptedFd >= 0) {
        ::tcsetattr(interruptedFd, TCSAFLUSH, &interruptedMode);  // async-signal-safe
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Turns echo off for its lifetime and restores the previous mode on every path, also when
// the user interrupts the PIN prompt with a signal.
class EchoOff {
  public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) {
            return;
        }
        interruptedFd = fd_;
        interruptedMode = saved_;
        for (size_t i = 0; i < std::size(RESTORE_SIGNALS); ++i) {
            struct sigaction action {};
            action.sa_handler = restoreEchoAndRaise;
            ::sigemptyset(&action.sa_mask);
            ::sigaction(RESTORE_SIGNALS[i], &action, &previous_[i]);
        }
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) {
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
        }
        if (interruptedFd == fd_) {
            for (size_t i = 0; i < std::size(RESTORE_SIGNALS); ++i) {
                ::sigaction(RESTORE_SIGNALS[i], &previous_[i], nullptr);
            }
            interruptedFd = -1;
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return active_; }

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
    struct sigaction previous_[std::size(RESTORE_SIGNALS)]{};
};

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

bool ControllingTerminal::available() {
    UniqueFd tty = openTty();
    return tty.valid() && ::isatty(tty.get()) == 1;
}

std::optional<std::string> ControllingTerminal::readLine(const std::string& prompt, bool echo) {
    UniqueFd tty = openTty();
    if (!tty.valid()) {
        return std::nullopt;
    }
    // Echo goes off before the prompt shows: turning it off flushes pending input, so a
    // secret typed as soon as the prompt appears is neither echoed nor thrown away.
    std::optional<EchoOff> quiet;
    if (!echo) {
        quiet.emplace(tty.get());
        if (!quiet->active()) {
            return std::nullopt;  // never read a secret with echo on
        }
    }
    writeAll(tty.get(), prompt);
    // Read byte by byte into reserved storage, so no buffer of ours keeps a copy.
    std::string line;
    line.reserve(MAX_LINE + 1);
    bool ended = false;
    for (;;) {
        char c = 0;
        ssize_t n = ::read(tty.get(), &c, 1);
        if (n <= 0) {
            break;
        }
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        if (line.size() < MAX_LINE) {
            line.push_back(c);
        }
        secureWipe(&c, 1);
    }
    if (!echo) {
        writeAll(tty.get(), "\n");
    }
    if (!ended && line.empty()) {
        return std::nullopt;
    }
    return line;
}

}  // namespace orvanta::cli
