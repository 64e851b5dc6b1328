#include "gui/recording_prompts.h"

#include "app/modal.h"

namespace orvanta::test {

void RecordingPrompts::showMessage(const std::string& text, MessageIcon icon) {
    messages.push_back({text, icon});
}

bool RecordingPrompts::askOkCancel(const std::string& text) {
    questions.push_back(text);
    return answerOk;
}

bool RecordingPrompts::askPin(std::string& pin) {
    ++pinRequests;
    pin = pinConfirmed ? pinAnswer : std::string();
    return pinConfirmed;
}

void RecordingPrompts::openFile(const std::string& path) {
    openedFiles.push_back(path);
}

ScopedModalHook::ScopedModalHook(std::function<int(QDialog&)> hook) {
    setModalHook(std::move(hook));
}

ScopedModalHook::~ScopedModalHook() {
    setModalHook(nullptr);
}

}  // namespace orvanta::test
