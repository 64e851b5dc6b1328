#pragma once
// Everything the core asks of the user goes through this interface: the Qt window
// implements it with message boxes and the PIN dialog, the command line with the terminal,
// the tests with a script of answers. The caption of every message is the application's
// name, "Orvanta".

#include <string>

namespace orvanta {

inline constexpr const char* APP_NAME = "Orvanta";

enum class MessageIcon { Error, Exclamation, Information, Warning };

// A message that tells of a failure (the fetch or check it belongs to did not succeed).
inline bool isFailure(MessageIcon icon) {
    return icon == MessageIcon::Error || icon == MessageIcon::Exclamation;
}

class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    // OK/Cancel question with the warning icon; true for OK.
    virtual bool askOkCancel(const std::string& text) = 0;
    // Asks for the PIN (masked). True when confirmed with OK: pin then holds what was
    // typed, as UTF-8, possibly empty. False when cancelled: pin is left empty.
    // The caller wipes pin after use.
    virtual bool askPin(std::string& pin) = 0;
    // Hands a file to the desktop (the system's certificate viewer for ".cer").
    virtual void openFile(const std::string& path) = 0;
    // Tells that the key now waits for a touch (progress only; the window shows nothing).
    virtual void touchNeeded() {}
};

}  // namespace orvanta
