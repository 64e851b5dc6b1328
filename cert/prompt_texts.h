#pragma once
// The words of the core's events, made where the user is told: the window's message boxes,
// the command line's standard error and the tests' record all take them from here.

#include <string>

#include "ctap/user_prompts.h"

namespace orvanta {

// The text of a message of the core, as the user reads it.
std::string messageText(const MessageEvent& message);
// The icon it is shown with; an error or exclamation tells of a failure.
MessageIcon messageIcon(MessageCode code);
// The text of a question (asked with the warning icon, OK and Cancel).
std::string questionText(Question question);

}  // namespace orvanta
