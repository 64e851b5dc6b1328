#pragma once
// Running orvanta-cli in tests: in-process through cli::run with a scripted terminal, or as
// a separate process (setsid, so it never finds a controlling terminal).

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/terminal.h"
#include "support/temp_dir.h"
#include "transport/clock.h"

namespace orvanta::test {

class ScriptedTerminal : public cli::Terminal {
  public:
    bool available() override { return present; }
    std::optional<std::string> readLine(const std::string& prompt, bool echo) override {
        asked.emplace_back(prompt, echo);
        if (answers.empty()) {
            return std::nullopt;
        }
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }

    bool present = false;
    std::deque<std::string> answers;
    std::vector<std::pair<std::string, bool>> asked;  // prompt, echo
};

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// cli::run with the arguments (program name added), standard input text, a terminal (an
// absent one when null) and the clock every wait of the run takes (a fresh manual clock
// when null, so a run never waits for real). With --all-keys each key waits on a manual
// clock of its own, and the run's clock moves on by the longest key's time.
CliResult runCli(const std::vector<std::string>& args, const std::string& input = "",
                 ScriptedTerminal* terminal = nullptr, ManualClock* clock = nullptr);

// The orvanta-cli binary in a new session, with standard input text.
CliResult runBinary(const std::vector<std::string>& args, const std::string& input = "");

std::string readText(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);

}  // namespace orvanta::test
