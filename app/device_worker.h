#pragma once
// Device work off the window's thread. One worker thread per window runs the refreshes and
// fetches, one job at a time, so the window keeps painting and answering while a key waits
// for a touch or does not answer at all. The prompts a job needs are shown by the window's
// thread; the job waits for the answer.

#include <QObject>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "ctap/user_prompts.h"

namespace orvanta {

class DeviceWorker : public QObject {
    Q_OBJECT

  public:
    explicit DeviceWorker(QObject* parent = nullptr);
    ~DeviceWorker() override;

    // Runs job on the worker thread, then done on the window's thread. One job at a time:
    // false, and nothing runs, while another job has not ended.
    bool run(std::function<void()> job, std::function<void()> done = {});
    // A job was started and its done has not run yet.
    bool busy() const { return m_busy; }
    // Waits for the running job to end and ends the thread; later jobs are refused. Whoever
    // owns what the jobs use makes them end first (cancel their exchanges, abandon their
    // prompts). With a limit: false when the job has not ended within it (it is stuck in a
    // call nothing can end; what it uses must then outlive it), and the thread is left be.
    bool stop(std::optional<std::chrono::milliseconds> limit = std::nullopt);

  private:
    QThread m_thread;
    std::unique_ptr<QObject> m_inThread;  // lives in the thread; the jobs are queued on it
    bool m_busy = false;
    bool m_stopped = false;
};

// The prompts of a job on the worker thread: each question and message is handed to the
// window's prompts on the window's thread, and the job waits for the answer.
class ForwardedPrompts final : public UserPrompts {
  public:
    // target: the window's prompts; onTouch: what the window shows when a key waits for a
    // touch (on the window's thread, before target's touchNeeded); onPrompt: told true before
    // target shows a question or message and false once it has been answered (on the
    // window's thread). Made on the window's thread.
    ForwardedPrompts(UserPrompts& target, std::function<void()> onTouch,
                     std::function<void(bool asking)> onPrompt = {});
    ~ForwardedPrompts() override;
    ForwardedPrompts(const ForwardedPrompts&) = delete;
    ForwardedPrompts& operator=(const ForwardedPrompts&) = delete;

    void show(const MessageEvent& message) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    bool confirm(Question question) override;
    bool askPin(std::string& pin) override;
    void openFile(const std::string& path) override;
    void touchNeeded() override;

    // The window is closing: a question that waits gets no answer (Cancel, no PIN), and
    // every later one is answered so at once.
    void abandon();

  private:
    // Runs call on the window's thread and waits until it has run; false when the prompts
    // were abandoned first (call then never runs).
    bool onWindowThread(const std::function<void()>& call);
    // The same for a question or message, with onPrompt told around it.
    bool promptOnWindowThread(const std::function<void()>& call);

    UserPrompts& m_target;
    std::function<void()> m_onTouch;
    std::function<void(bool)> m_onPrompt;
    std::unique_ptr<QObject> m_context;  // the window's thread; queued calls die with it
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_abandoned = false;
};

}  // namespace orvanta
