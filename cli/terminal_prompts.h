#pragma once
// The questions and messages of the core on the command line: messages go to standard
// error with their texts unchanged, the confirmation and the PIN are asked on the terminal
// (or answered by --yes and --pin-stdin), and a key waiting for a touch says so.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "ctap/user_prompts.h"

namespace orvanta::cli {

inline constexpr const char* TOUCH_TEXT = "Touch your security key...";

struct PromptOptions {
    bool yes = false;       // confirm without asking
    bool pinStdin = false;  // read the PIN as one line of standard input
    // With pinStdin: the descriptor of standard input, read with read(2) into a buffer that
    // is wiped; -1 reads the line from the stream instead (in-process runs).
    int pinFd = -1;
};

class TerminalPrompts final : public UserPrompts {
  public:
    TerminalPrompts(PromptOptions options, std::istream& in, std::ostream& err, Terminal& terminal)
        : options_(options), in_(in), err_(err), terminal_(terminal) {}

    void show(const MessageEvent& message) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(Question question) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;
    void touchNeeded() override;

    // The error and exclamation messages shown since construction (or the last reset).
    const std::vector<std::string>& failureMessages() const { return failureMessages_; }
    bool failureShown() const { return !failureMessages_.empty(); }
    // The user answered Cancel, or there was no way to ask.
    bool cancelled() const { return cancelled_; }
    void reset() {
        failureMessages_.clear();
        cancelled_ = false;
    }

  private:
    PromptOptions options_;
    std::istream& in_;
    std::ostream& err_;
    Terminal& terminal_;
    std::vector<std::string> failureMessages_;
    bool cancelled_ = false;
};

}  // namespace orvanta::cli
