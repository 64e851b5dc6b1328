#pragma once
// The program's start-up: the crash dump, the single-instance guard, then the main window
// run modally; the program ends when it closes.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "ctap/user_prompts.h"
#include "transport/clock.h"
#include "transport/hid_backend.h"

namespace orvanta {

inline constexpr const char* ALREADY_RUNNING_TEXT = "程序已在运行！";
// How long a closed window waits for its device work to end before the program ends
// without it.
inline constexpr std::chrono::milliseconds DEVICE_WORK_END_LIMIT{1000};

class COrvantaApp {
  public:
    // prompts: who shows the start-up message and answers the pages' questions; null for
    // the window's message boxes. lockDirectory: where the single-instance lock lives.
    // backend, clock: the keys the window looks at and the clock it waits on (tests);
    // by default the keys the options ask for (real keys and cards in PC/SC readers,
    // virtual keys or a simulator over UDP) on the machine's clock.
    // endProcess: how the program ends at once when device work outlives the closed window
    // (by default _Exit; it must not return).
    explicit COrvantaApp(UserPrompts* prompts = nullptr, std::string lockDirectory = std::string(),
                         std::shared_ptr<HidBackend> backend = nullptr, Clock* clock = nullptr,
                         std::function<void()> endProcess = nullptr);

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
    std::function<void()> m_endProcess;
    // Set when the window has closed: a card that is being opened or waited for is given up.
    std::atomic<bool> m_closed{false};
    bool m_ranMainWindow = false;
};

}  // namespace orvanta
