#pragma once
// A user who answers every question at once: OK, and the PIN (by default "123456").
// Messages are counted, not shown.

#include <string>

#include "ctap/user_prompts.h"

namespace orvanta::fuzz {

class FuzzPrompts final : public UserPrompts {
  public:
    void showMessage(const std::string& text, MessageIcon) override {
        ++messages;
        lastMessage = text;
    }
    bool askOkCancel(const std::string&) override { return true; }
    bool askPin(std::string& pin) override {
        pin = answer;
        return true;
    }
    void openFile(const std::string&) override {}

    std::string answer = "123456";
    int messages = 0;
    std::string lastMessage;
};

}  // namespace orvanta::fuzz
