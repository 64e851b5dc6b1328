#include "cli/terminal_prompts.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <istream>
#include <ostream>

#include "cert/prompt_texts.h"
#include "common/terminal_text.h"
#include "ctap/secure_wipe.h"

namespace orvanta::cli {

namespace {

bool isYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes" || answer == "o" || answer == "ok";
}

}  // namespace

void TerminalPrompts::show(const MessageEvent& message) {
    showMessage(messageText(message), messageIcon(message.code));
}

void TerminalPrompts::showMessage(const std::string& text, MessageIcon icon) {
    err_ << terminalSafe(text) << std::endl;
    if (isFailure(icon)) {
        failureMessages_.push_back(text);
    }
}

bool TerminalPrompts::confirm(Question question) {
    if (options_.yes) {
        return true;
    }
    const std::string text = questionText(question);
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

namespace {

// Longer than any PIN a key takes (63 bytes); more of the line is read and dropped.
constexpr size_t PIN_LINE_CAPACITY = 256;

// One line from the descriptor, a byte at a time, so that no library buffer ever holds the
// PIN and nothing after the line is consumed. False at end of input before any byte; an
// empty line is a line (an empty PIN).
bool readPinLine(int fd, std::string& line) {
    std::array<char, PIN_LINE_CAPACITY> buffer{};
    size_t used = 0;
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        if (used < buffer.size()) {
            buffer[used++] = c;
        }
    }
    line.assign(buffer.data(), used);
    secureWipe(buffer.data(), buffer.size());
    return any;
}

}  // namespace

bool TerminalPrompts::askPin(std::string& pin) {
    secureWipe(pin);
    if (options_.pinStdin) {
        std::string line;
        line.reserve(PIN_LINE_CAPACITY);
        const bool got = options_.pinFd >= 0 ? readPinLine(options_.pinFd, line)
                                             : static_cast<bool>(std::getline(in_, line));
        if (!got) {
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
    err_ << "Certificate written to " << terminalSafe(path) << std::endl;
}

void TerminalPrompts::touchNeeded() {
    err_ << TOUCH_TEXT << std::endl;
}

}  // namespace orvanta::cli
