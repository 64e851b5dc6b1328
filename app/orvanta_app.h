#pragma once
// The program's start-up: the crash dump, the single-instance guard, then the main window
// run modally; the program ends when it closes.

#include <string>

#include "app/command_line.h"
#include "ctap/user_prompts.h"

namespace orvanta {

inline constexpr const char* ALREADY_RUNNING_TEXT = "程序已在运行！";

class COrvantaApp {
  public:
    // prompts: who shows the start-up message and answers the pages' questions; null for
    // the window's message boxes. lockDirectory: where the single-instance lock lives.
    explicit COrvantaApp(UserPrompts* prompts = nullptr, std::string lockDirectory = std::string());

    // Runs the program; returns the process exit status. A second instance shows
    // ALREADY_RUNNING_TEXT and returns 0 without a window.
    int InitInstance(const AppOptions& options);
    // Whether the last InitInstance got as far as the main window.
    bool ranMainWindow() const { return m_ranMainWindow; }

  private:
    UserPrompts* m_prompts;
    std::string m_lockDirectory;
    bool m_ranMainWindow = false;
};

}  // namespace orvanta
