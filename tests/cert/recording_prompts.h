#pragma once
// A UserPrompts for the certificate tests: fixed answers, and a record of everything asked.

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "ctap/user_prompts.h"

namespace orvanta::test {

class RecordingPrompts : public UserPrompts {
  public:
    void showMessage(const std::string& text, MessageIcon icon) override {
        messages.emplace_back(text, icon);
    }
    bool askOkCancel(const std::string& text) override {
        questions.push_back(text);
        return confirm;
    }
    bool askPin(std::string& pin) override {
        ++pinRequests;
        if (pins.empty()) {
            pin.clear();
            return false;
        }
        pin = pins.front();
        pins.pop_front();
        return true;
    }
    void openFile(const std::string& path) override { opened.push_back(path); }
    void touchNeeded() override { ++touches; }

    bool confirm = true;
    std::deque<std::string> pins;
    std::vector<std::pair<std::string, MessageIcon>> messages;
    std::vector<std::string> questions;
    std::vector<std::string> opened;
    int pinRequests = 0;
    int touches = 0;
};

}  // namespace orvanta::test
