#pragma once
// Prompts that record what the window asked and answer from a script, and a modal hook
// that records the dialogs it is handed.

#include <functional>
#include <string>
#include <vector>

#include "ctap/user_prompts.h"

class QDialog;

namespace orvanta::test {

class RecordingPrompts : public UserPrompts {
  public:
    struct Message {
        std::string text;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    std::vector<std::string> questions;
    std::vector<std::string> openedFiles;
    int pinRequests = 0;
    bool answerOk = false;
    bool pinConfirmed = false;
    std::string pinAnswer;

    void showMessage(const std::string& text, MessageIcon icon) override;
    bool askOkCancel(const std::string& text) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;
};

// Installs a modal hook for its lifetime and restores the modal loops afterwards.
class ScopedModalHook {
  public:
    explicit ScopedModalHook(std::function<int(QDialog&)> hook);
    ~ScopedModalHook();
    ScopedModalHook(const ScopedModalHook&) = delete;
    ScopedModalHook& operator=(const ScopedModalHook&) = delete;
};

}  // namespace orvanta::test
