#pragma once
// The one UserPrompts of the tests, the fuzz harnesses and the seed writer: it records
// every message (the core's as its event too, and every one as the text and icon the user
// would see), question, opened file, PIN request and touch notice, and answers from
// queues filled beforehand; an empty queue gives the default answer, Cancel unless set
// otherwise. Free of GoogleTest, so the harnesses link it too (orvanta_scripted_prompts).

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
    // The answers once a queue is empty, as often as asked.
    bool okCancelDefault = false;
    std::optional<std::string> pinDefault;

    // What the code under test did.
    std::vector<Message> messages;       // every message, as shown
    std::vector<MessageEvent> events;    // the core's messages, in order
    std::vector<std::string> questions;  // texts of the questions
    std::vector<std::string> openedFiles;
    size_t pinRequests = 0;
    size_t touchNotices = 0;

    // Queues a PIN typed and confirmed with OK.
    ScriptedPrompts& enterPin(const std::string& pin);
    // Queues a cancelled PIN dialog.
    ScriptedPrompts& cancelPin();

    void show(const MessageEvent& message) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(Question question) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;
    void touchNeeded() override;
};

const char* iconName(MessageIcon icon);
// Readable failure output: text [icon].
std::ostream& operator<<(std::ostream& out, const ScriptedPrompts::Message& message);

}  // namespace orvanta::test
