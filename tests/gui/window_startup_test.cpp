// Start-up of the whole program: the second instance is refused, the first runs the window.

#include <signal.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QTableWidget>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "app/orvanta_app.h"
#include "app/orvanta_dlg.h"
#include "app/page_table.h"
#include "app/single_instance.h"
#include "gui/lock_holder.h"
#include "gui/modal_hook.h"
#include "gui/window_fixture.h"
#include "support/fake_hid.h"
#include "support/scripted_prompts.h"
#include "transport/clock.h"
#include "transport/device_list.h"

namespace orvanta {
namespace {

using test::LockHolder;
using test::ScopedModalHook;
using test::ScriptedPrompts;

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override { dir = test::makeTempDir(); }
    void TearDown() override {
        // InitInstance installed the crash handler; the test process goes back to defaults.
        for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
            ::signal(signal, SIG_DFL);
        }
        std::filesystem::remove_all(dir);
    }
    ManualClock manualClock{1000};
    std::shared_ptr<HidBackend> backend = std::make_shared<test::FakeHidBackend>(manualClock);
    std::filesystem::path dir;
    ScriptedPrompts prompts;
};

TEST_F(StartUp, SecondInstanceIsRefusedWhileTheFirstRunsAndAllowedAfterItEnds) {
    int windows = 0;
    ScopedModalHook hook([&](QDialog& dialog) {
        EXPECT_NE(qobject_cast<COrvantaDlg*>(&dialog), nullptr);
        ++windows;
        return static_cast<int>(QDialog::Rejected);
    });
    COrvantaApp app(&prompts, dir.string(), backend, &manualClock);

    LockHolder first(dir.string());
    ASSERT_EQ(first.outcome(), 'A');
    EXPECT_EQ(app.InitInstance(AppOptions{}), 0);
    EXPECT_FALSE(app.ranMainWindow());
    EXPECT_EQ(windows, 0);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "程序已在运行！");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Information);

    first.end();
    EXPECT_EQ(app.InitInstance(AppOptions{}), 0);
    EXPECT_TRUE(app.ranMainWindow());
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(StartUp, SecondStartRaisesTheRunningWindowWithoutTheMessage) {
    COrvantaApp first(&prompts, dir.string(), backend, &manualClock);
    ScriptedPrompts secondPrompts;
    COrvantaApp second(&secondPrompts, dir.string(), backend, &manualClock);
    int windows = 0;
    ScopedModalHook hook([&](QDialog& dialog) {
        if (++windows > 1) {
            return static_cast<int>(QDialog::Rejected);  // a second window: the test fails below
        }
        dialog.showMinimized();
        // Started again while the first window runs, on the same display.
        EXPECT_EQ(second.InitInstance(AppOptions{}), 0);
        EXPECT_FALSE(second.ranMainWindow());
        EXPECT_TRUE(secondPrompts.messages.empty());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.isMinimized());
        return static_cast<int>(QDialog::Rejected);
    });
    EXPECT_EQ(first.InitInstance(AppOptions{}), 0);
    EXPECT_EQ(windows, 1);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(StartUp, VirtualOptionOpensTheWindowOnTheVirtualKey) {
    QString firstRow;
    ScopedModalHook hook([&](QDialog& dialog) {
        auto& window = static_cast<COrvantaDlg&>(dialog);
        // The window is up before its first refresh ends.
        EXPECT_TRUE(test::settle(window));
        auto* page = qobject_cast<PageTable*>(window.tabs()->widget(0));
        if (page != nullptr && page->table()->rowCount() > 0) {
            firstRow = page->table()->item(0, 1)->text();
        }
        return static_cast<int>(QDialog::Accepted);
    });
    AppOptions options;
    options.device.choice.kind = DeviceChoice::Kind::Virtual;
    COrvantaApp app(&prompts, dir.string(), nullptr, &manualClock);
    EXPECT_EQ(app.InitInstance(options), 0);
    EXPECT_EQ(firstRow, QStringLiteral("Orvanta Virtual Key"));
}

// A key whose opening is stuck in its library until the test lets it go.
class StuckBackend final : public HidBackend {
  public:
    std::vector<HidInterfaceInfo> enumerate() override {
        HidInterfaceInfo info;
        info.path = "stuck";
        info.vendorId = 0x1209;
        info.productId = 0x0001;
        info.usagePage = 0xF1D0;
        info.usage = 1;
        return {info};
    }
    std::unique_ptr<HidHandle> open(const std::string&, std::string* error) override {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        *error = "gone";
        return nullptr;
    }
    // The window's event loop runs meanwhile: its first refresh starts from a queued event.
    bool waitUntilStuck() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::unique_lock<std::mutex> lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(10),
                                  [this] { return entered_; })) {
                return true;
            }
        }
        return false;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

TEST_F(StartUp, AWindowClosedOverStuckDeviceWorkFreesTheLockAndEndsTheProgram) {
    auto stuck = std::make_shared<StuckBackend>();
    ScopedModalHook hook([&](QDialog&) {
        EXPECT_TRUE(stuck->waitUntilStuck());
        return static_cast<int>(QDialog::Rejected);
    });
    bool ended = false;
    bool lockFree = false;
    COrvantaApp app(&prompts, dir.string(), stuck, &manualClock, [&] {
        ended = true;
        InstanceLock next;
        lockFree = next.acquire(dir.string()) == InstanceLock::Result::Acquired;
        stuck->release();  // the test process goes on: the window may end after its work
    });
    EXPECT_EQ(app.InitInstance(AppOptions{}), 0);
    EXPECT_TRUE(ended) << "the program waited for the stuck work";
    EXPECT_TRUE(lockFree) << "the closed window still held the single-instance lock";
}

TEST_F(StartUp, MetadataBlobThatIsAFifoIsRefusedAndTheWindowStillComesUp) {
    // No one writes to the FIFO: reading it would wait for ever.
    const std::string fifo = (dir / "blob.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int windows = 0;
    ScopedModalHook hook([&](QDialog& dialog) {
        EXPECT_TRUE(test::settle(static_cast<COrvantaDlg&>(dialog)));
        ++windows;
        return static_cast<int>(QDialog::Accepted);
    });
    AppOptions options;
    options.device.choice.kind = DeviceChoice::Kind::Virtual;
    options.device.mds = fifo;
    COrvantaApp app(&prompts, dir.string(), nullptr, &manualClock);
    EXPECT_EQ(app.InitInstance(options), 0);
    EXPECT_EQ(windows, 1);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              "Cannot read the metadata BLOB " + fifo + " (not a regular file).");
}

}  // namespace
}  // namespace orvanta
