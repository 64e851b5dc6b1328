#include "app/device_worker.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <exception>

#include "ctap/secure_wipe.h"

namespace orvanta {

DeviceWorker::DeviceWorker(QObject* parent)
    : QObject(parent), m_inThread(std::make_unique<QObject>()) {
    m_thread.setObjectName(QStringLiteral("device worker"));
    m_inThread->moveToThread(&m_thread);
    m_thread.start();
}

DeviceWorker::~DeviceWorker() {
    stop();
}

bool DeviceWorker::run(std::function<void()> job, std::function<void()> done) {
    if (m_busy || m_stopped) {
        return false;
    }
    m_busy = true;
    QMetaObject::invokeMethod(
        m_inThread.get(),
        [this, job = std::move(job), done = std::move(done)]() mutable {
            try {
                job();
            } catch (const std::exception& e) {
                // The job's own code reports what it can; the window stays usable.
                qWarning() << "device job failed:" << e.what();
            }
            // Queued behind every row the job handed over: done sees all of them shown.
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done)] {
                    m_busy = false;
                    if (done) {
                        done();
                    }
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

bool DeviceWorker::stop(std::optional<std::chrono::milliseconds> limit) {
    if (m_stopped && !m_thread.isRunning()) {
        return true;
    }
    m_stopped = true;
    m_thread.quit();
    if (!m_thread.wait(limit ? QDeadlineTimer(*limit) : QDeadlineTimer(QDeadlineTimer::Forever))) {
        return false;
    }
    m_inThread.reset();
    return true;
}

ForwardedPrompts::ForwardedPrompts(UserPrompts& target, std::function<void()> onTouch,
                                   std::function<void(bool asking)> onPrompt)
    : m_target(target),
      m_onTouch(std::move(onTouch)),
      m_onPrompt(std::move(onPrompt)),
      m_context(std::make_unique<QObject>()) {}

ForwardedPrompts::~ForwardedPrompts() {
    abandon();
}

void ForwardedPrompts::abandon() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandoned = true;
    m_answered.notify_all();
}

bool ForwardedPrompts::onWindowThread(const std::function<void()>& call) {
    if (QThread::currentThread() == m_context->thread()) {
        call();
        return true;
    }
    struct State {
        bool running = false;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_abandoned) {
            return false;
        }
    }
    QMetaObject::invokeMethod(
        m_context.get(),
        [this, state, &call] {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_abandoned) {
                    return;  // the job no longer waits: call may be gone
                }
                state->running = true;
            }
            call();
            std::lock_guard<std::mutex> lock(m_mutex);
            state->done = true;
            m_answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_mutex);
    // A call that has started is waited for even when abandoned: it writes into the job's
    // variables.
    m_answered.wait(lock, [&] { return state->done || (m_abandoned && !state->running); });
    return state->done;
}

bool ForwardedPrompts::promptOnWindowThread(const std::function<void()>& call) {
    return onWindowThread([&] {
        if (m_onPrompt) {
            m_onPrompt(true);
        }
        call();
        if (m_onPrompt) {
            m_onPrompt(false);
        }
    });
}

void ForwardedPrompts::show(const MessageEvent& message) {
    promptOnWindowThread([&] { m_target.show(message); });
}

void ForwardedPrompts::showMessage(const std::string& text, MessageIcon icon) {
    promptOnWindowThread([&] { m_target.showMessage(text, icon); });
}

bool ForwardedPrompts::confirm(Question question) {
    bool ok = false;
    promptOnWindowThread([&] { ok = m_target.confirm(question); });
    return ok;
}

bool ForwardedPrompts::askPin(std::string& pin) {
    bool confirmed = false;
    if (!promptOnWindowThread([&] { confirmed = m_target.askPin(pin); })) {
        secureWipe(pin);
    }
    return confirmed;
}

void ForwardedPrompts::openFile(const std::string& path) {
    promptOnWindowThread([&] { m_target.openFile(path); });
}

void ForwardedPrompts::touchNeeded() {
    onWindowThread([&] {
        if (m_onTouch) {
            m_onTouch();
        }
        m_target.touchNeeded();
    });
}

}  // namespace orvanta
