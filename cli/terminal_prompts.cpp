#include "cli/terminal_prompts.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>

#include "ctap/secure_wipe.h"

namespace orvanta::cli {

namespace {

bool isYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes" || answer == "o" || answer == "ok";
}

}  // namespace

void TerminalPrompts::showMessage(const std::string& text, MessageIcon icon) {
    err_ << text << std::endl;
    if (icon == MessageIcon::Error || icon == MessageIcon::Exclamation) {
        failureShown_ = true;
    }
}

bool TerminalPrompts::askOkCancel(const std::string& text) {
    if (options_.yes) {
        return true;
    }
    if (!terminal_.available()) {
        err_ << text << std::endl
             << "No terminal to confirm on; give --yes to go on without asking." << std::endl;
        cancelled_ = true;
        return false;
    }
    std::optional<std::string> answer = terminal_.readLine(text + " [OK/Cancel] (o/c): ", true);
    if (answer && isYes(*answer)) {
        return true;
    }
    cancelled_ = true;
    return false;
}

bool TerminalPrompts::askPin(std::string& pin) {
    secureWipe(pin);
    if (options_.pinStdin) {
        std::string line;
        line.reserve(256);
        bool got = static_cast<bool>(std::getline(in_, line));
        if (!got && line.empty()) {
            err_ << "No PIN on standard input." << std::endl;
            cancelled_ = true;
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        pin.swap(line);
        secureWipe(line);
        return true;
    }
    if (!terminal_.available()) {
        err_ << "The key has a PIN and there is no terminal to ask for it; give --pin-stdin "
                "and the PIN as one line of standard input."
             << std::endl;
        cancelled_ = true;
        return false;
    }
    std::optional<std::string> line = terminal_.readLine("PIN: ", false);
    if (!line) {
        cancelled_ = true;
        return false;
    }
    pin.swap(*line);
    secureWipe(*line);
    return true;
}

void TerminalPrompts::openFile(const std::string& path) {
    err_ << "Certificate written to " << path << std::endl;
}

void TerminalPrompts::touchNeeded() {
    err_ << TOUCH_TEXT << std::endl;
}

}  // namespace orvanta::cli
