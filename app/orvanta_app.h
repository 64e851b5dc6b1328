#pragma once
// The program's start-up: the crash dump, the single-instance guard, then the main window
// run modally; the program ends when it closes.

#include <memory>
#include <string>

#include "app/command_line.h"
#include "ctap/user_prompts.h"
#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr const char* ALREADY_RUNNING_TEXT = "程序已在运行！";

class COrvantaApp {
  public:
    // prompts: who shows the start-up message and answers the pages' questions; null for
    // the window's message boxes. lockDirectory: where the single-instance lock lives.
    // backend, clock: the keys the window looks at and the clock it waits on (tests);
    // by default the keys the options ask for (real keys and cards in PC/SC readers,
    // virtual keys or a simulator over UDP) on the machine's clock.
    explicit COrvantaApp(UserPrompts* prompts = nullptr, std::string lockDirectory = std::string(),
                         std::shared_ptr<HidBackend> backend = nullptr, Clock* clock = nullptr);

    // Runs the program; returns the process exit status. A second instance brings the
    // running window of its display to the front, or shows ALREADY_RUNNING_TEXT when it
    // cannot, and returns 0 without a window.
    int InitInstance(const AppOptions& options);
    // Whether the last InitInstance got as far as the main window.
    bool ranMainWindow() const { return m_ranMainWindow; }

  private:
    UserPrompts* m_prompts;
    std::string m_lockDirectory;
    std::shared_ptr<HidBackend> m_backend;
    SystemClock m_systemClock;
    Clock& m_clock;
    bool m_ranMainWindow = false;
};

}  // namespace orvanta
