#pragma once
// The window's side of every question and message of the core: message boxes captioned
// "Orvanta", the PIN dialog and the desktop's file handler.

#include <QMessageBox>

#include "ctap/user_prompts.h"

namespace orvanta {

// The message-box icon for each kind of message (the exclamation kind shows Qt's warning
// triangle).
QMessageBox::Icon messageBoxIcon(MessageIcon icon);

class QtUserPrompts final : public UserPrompts {
  public:
    explicit QtUserPrompts(QWidget* parent = nullptr) : parent_(parent) {}

    void show(const MessageEvent& message) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(Question question) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;

  private:
    QWidget* parent_;
};

}  // namespace orvanta
