#pragma once
// The window's side of every question and message of the core: message boxes captioned
// "Orvanta", the PIN dialog and the desktop's file handler (the window's own certificate view
// where the desktop has none).

#include <QMessageBox>

#include "app/desktop_opener.h"
#include "ctap/user_prompts.h"

namespace orvanta {

// The message-box icon for each kind of message (the exclamation kind shows Qt's warning
// triangle).
QMessageBox::Icon messageBoxIcon(MessageIcon icon);

class QtUserPrompts final : public UserPrompts {
  public:
    // opener: how a file goes to the desktop (xdg-open unless given).
    explicit QtUserPrompts(QWidget* parent = nullptr, DesktopOpener opener = {});

    void show(const MessageEvent& message) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(Question question) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;

  private:
    QWidget* parent_;
    DesktopOpener opener_;
};

}  // namespace orvanta
