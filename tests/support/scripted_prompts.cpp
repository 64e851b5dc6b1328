#include "support/scripted_prompts.h"

#include "cert/prompt_texts.h"

namespace orvanta::test {

ScriptedPrompts& ScriptedPrompts::enterPin(const std::string& pin) {
    pinAnswers.emplace_back(pin);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::cancelPin() {
    pinAnswers.emplace_back(std::nullopt);
    return *this;
}

void ScriptedPrompts::show(const MessageEvent& message) {
    events.push_back(message);
    showMessage(messageText(message), messageIcon(message.code));
}

void ScriptedPrompts::showMessage(const std::string& text, MessageIcon icon) {
    messages.push_back({text, icon});
}

bool ScriptedPrompts::confirm(Question question) {
    questions.push_back(questionText(question));
    if (okCancelAnswers.empty()) {
        return okCancelDefault;
    }
    const bool answer = okCancelAnswers.front();
    okCancelAnswers.pop_front();
    return answer;
}

bool ScriptedPrompts::askPin(std::string& pin) {
    ++pinRequests;
    pin.clear();
    std::optional<std::string> answer = pinDefault;
    if (!pinAnswers.empty()) {
        answer = pinAnswers.front();
        pinAnswers.pop_front();
    }
    if (!answer) {
        return false;
    }
    pin = *answer;
    return true;
}

void ScriptedPrompts::openFile(const std::string& path) {
    openedFiles.push_back(path);
}

void ScriptedPrompts::touchNeeded() {
    ++touchNotices;
}

const char* iconName(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return "Error";
        case MessageIcon::Exclamation:
            return "Exclamation";
        case MessageIcon::Information:
            return "Information";
        case MessageIcon::Warning:
            return "Warning";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const ScriptedPrompts::Message& message) {
    return out << '"' << message.text << "\" [" << iconName(message.icon) << ']';
}

}  // namespace orvanta::test
