#pragma once
// A UserPrompts for tests: it records every message and opened file, and answers the
// questions from queues the test fills beforehand. An empty queue answers "Cancel".

#include <cstddef>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ctap/user_prompts.h"

namespace orvanta::test {

class ScriptedPrompts : public UserPrompts {
  public:
    struct Message {
        std::string text;
        MessageIcon icon;
        bool operator==(const Message& other) const = default;
    };

    // Answers, consumed in order.
    std::deque<bool> okCancelAnswers;
    // A PIN answer: a text confirms with OK, std::nullopt cancels.
    std::deque<std::optional<std::string>> pinAnswers;

    // What the code under test did.
    std::vector<Message> messages;
    std::vector<std::string> questions;  // texts of askOkCancel
    std::vector<std::string> openedFiles;
    size_t pinRequests = 0;
    size_t touchNotices = 0;

    // Queues a PIN typed and confirmed with OK.
    ScriptedPrompts& enterPin(const std::string& pin);
    // Queues a cancelled PIN dialog.
    ScriptedPrompts& cancelPin();

    void showMessage(const std::string& text, MessageIcon icon) override;
    bool askOkCancel(const std::string& text) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;
    void touchNeeded() override;
};

const char* iconName(MessageIcon icon);
// Readable failure output: text [icon].
std::ostream& operator<<(std::ostream& out, const ScriptedPrompts::Message& message);

}  // namespace orvanta::test
