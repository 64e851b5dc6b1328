#pragma once
// The user's terminal, apart from standard input and output: confirmations and the PIN are
// read there, so piped data and redirected output never mix with them. Tests put a scripted
// terminal in its place.

#include <optional>
#include <string>

namespace orvanta::cli {

class Terminal {
  public:
    virtual ~Terminal() = default;
    // Whether there is a terminal to ask.
    virtual bool available() = 0;
    // Writes the prompt, then reads one line (without its line end). With echo off the
    // typed characters are not shown. Empty on end of input or failure. The caller wipes a
    // line that holds a secret.
    virtual std::optional<std::string> readLine(const std::string& prompt, bool echo) = 0;
};

// The process's controlling terminal, /dev/tty.
class ControllingTerminal final : public Terminal {
  public:
    bool available() override;
    std::optional<std::string> readLine(const std::string& prompt, bool echo) override;
};

}  // namespace orvanta::cli
