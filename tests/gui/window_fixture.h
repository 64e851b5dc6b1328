#pragma once
// A main window over the virtual key (or none), with a clock that moves only when slept on
// (and whose sleeps a test can hold) and recorded prompts. The window's device work runs on
// its worker thread: settle() runs the event loop until it has ended.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/orvanta_dlg.h"
#include "app/page_table.h"
#include "gui/modal_hook.h"
#include "info/device_context.h"
#include "sim/virtual_backend.h"
#include "sim/virtual_key.h"
#include "support/scripted_prompts.h"
#include "transport/clock.h"
#include "transport/device_list.h"

namespace orvanta::test {

// A manual clock whose sleeps can be held: while held, a thread that sleeps on it (the
// window's worker, waiting for a key) stays in the sleep until released, so the test can
// look at the window meanwhile. Time moves only by the sleeps, as with ManualClock.
class GateClock final : public Clock {
  public:
    explicit GateClock(uint32_t start) : now_(start) {}
    uint32_t tickCount() override { return now_.load(); }
    void sleep(uint32_t ms) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++sleepers_;
        // releaseIf is asked on the sleeping thread itself, so it may look at what that
        // thread owns.
        while (held_ && !(releaseIf_ && releaseIf_())) {
            changed_.wait_for(lock, std::chrono::milliseconds(1));
        }
        --sleepers_;
        now_ += ms;
    }
    void hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // A thread waits in a held sleep.
    bool sleeperHeld() {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_ && sleepers_ > 0;
    }

    // While set, a held sleep also ends once this holds.
    void setReleaseIf(std::function<bool()> condition) {
        std::lock_guard<std::mutex> lock(mutex_);
        releaseIf_ = std::move(condition);
    }

  private:
    std::function<bool()> releaseIf_;
    std::atomic<uint32_t> now_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    int sleepers_ = 0;
};

// The virtual backend that also notes the clock time of every enumeration.
class TimedVirtualBackend : public VirtualBackend {
  public:
    explicit TimedVirtualBackend(Clock& clock) : VirtualBackend(clock), clock_(clock) {}
    std::vector<HidInterfaceInfo> enumerate() override {
        enumeratedAt.push_back(clock_.tickCount());
        return VirtualBackend::enumerate();
    }
    std::vector<uint32_t> enumeratedAt;

  private:
    Clock& clock_;
};

// Scripted prompts that also run a hook when a key waits for a touch, and one when the PIN
// is asked for (on the window's thread, while the worker waits for the answer).
class TouchPrompts : public ScriptedPrompts {
  public:
    void touchNeeded() override {
        ScriptedPrompts::touchNeeded();
        if (onTouch) {
            onTouch();
        }
    }
    bool askPin(std::string& pin) override {
        if (onPin) {
            onPin();
        }
        return ScriptedPrompts::askPin(pin);
    }
    std::function<void()> onTouch;
    std::function<void()> onPin;
};

// How many requests with this CTAPHID command the key received.
inline size_t requestCount(const VirtualKey& key, uint8_t command) {
    const std::vector<LoggedRequest>& log = key.requestLog();
    return static_cast<size_t>(
        std::count_if(log.begin(), log.end(),
                      [command](const LoggedRequest& r) { return r.command == command; }));
}

// Runs the event loop until done() holds or timeoutMs pass; returns done().
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    if (done()) {
        return true;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || elapsed.elapsed() > timeoutMs) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    return done();
}

// Runs the event loop until the window's device work has ended and its rows are shown.
inline bool settle(COrvantaDlg& window) {
    return waitUntil([&window] { return !window.isBusy(); });
}

class WindowFixture : public ::testing::Test {
  protected:
    // The window's tabs.
    enum { HARDWARE = 0, FIDO2 = 1, U2F = 2 };

    void TearDown() override {
        clock.release();  // a worker held in a sleep could not end
        window.reset();
    }
    COrvantaDlg& open() {
        window = std::make_unique<COrvantaDlg>(devices, &prompts);
        return *window;
    }
    // Opens the window and waits for its first refresh.
    COrvantaDlg& openSettled() {
        open();
        EXPECT_TRUE(settle());
        return *window;
    }
    bool settle() { return test::settle(*window); }
    // The wait after a device event, without waiting it out: it runs with its full length,
    // then fires at once.
    void fireSettleTimer() {
        ASSERT_EQ(window->settleTimer()->interval(), static_cast<int>(DEVICE_SETTLE_MS));
        fireTimer(window->settleTimer());
    }
    // A running timer of the window fires now; its length stays for its next start.
    static void fireTimer(QTimer* timer) {
        ASSERT_TRUE(timer->isActive());
        const int interval = timer->interval();
        timer->setInterval(0);  // restarts the running timer
        ASSERT_TRUE(waitUntil([timer] { return !timer->isActive(); }));
        timer->setInterval(interval);
    }
    PageTable* page(int tab) const { return qobject_cast<PageTable*>(window->tabs()->widget(tab)); }
    QTableWidget* table(int tab) const {
        PageTable* view = page(tab);
        return view != nullptr ? view->table() : nullptr;
    }
    QString cell(int tab, int row, int column) const {
        QTableWidgetItem* item = table(tab)->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    int rowWithLabel(int tab, const QString& label) const {
        for (int i = 0; i < table(tab)->rowCount(); ++i) {
            if (cell(tab, i, 0) == label) {
                return i;
            }
        }
        return -1;
    }
    // A double click on a row as the table reports it, then the device work it starts.
    void activateRow(int tab, int row) {
        window->tabs()->setCurrentIndex(tab);
        emit table(tab)->cellDoubleClicked(row, 0);
        EXPECT_TRUE(settle());
    }

    GateClock clock{1000};
    std::shared_ptr<TimedVirtualBackend> backend = std::make_shared<TimedVirtualBackend>(clock);
    DeviceContext devices{backend, clock};
    TouchPrompts prompts;
    std::unique_ptr<COrvantaDlg> window;
};

}  // namespace orvanta::test
