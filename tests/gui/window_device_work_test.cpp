// Device work on the window's worker: the window keeps answering while a key waits for a
// touch or does not answer, Cancel ends the wait with CTAPHID_CANCEL, and device events
// wait for a running fetch.

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "gui/window_fixture.h"
#include "transport/ctaphid_protocol.h"

namespace orvanta {
namespace {

using test::WindowFixture;

class DeviceWork : public WindowFixture {
  protected:
    // Starts the fetch of a certification page on the slow-touch key and returns once the
    // key waits for the touch, with the worker held in that wait.
    void startHeldFetch(int tab) {
        prompts.okCancelDefault = true;
        prompts.onTouch = [this] { clock.hold(); };
        window->tabs()->setCurrentIndex(tab);
        emit table(tab)->cellDoubleClicked(0, 0);
        ASSERT_TRUE(test::waitUntil([this] { return clock.sleeperHeld(); }));
        prompts.onTouch = nullptr;
    }
};

TEST_F(DeviceWork, WindowAnswersWhileTheKeyWaitsForATouch) {
    backend->addDevice("slow-touch");
    openSettled().show();
    startHeldFetch(FIDO2);

    bool fired = false;
    QTimer::singleShot(0, window.get(), [&fired] { fired = true; });
    ASSERT_TRUE(test::waitUntil([&fired] { return fired; }));
    EXPECT_TRUE(window->isBusy());
    EXPECT_TRUE(window->statusLine()->isVisible());
    EXPECT_EQ(window->statusLabel()->text(), QString::fromUtf8("Touch your security key…"));
    EXPECT_TRUE(window->cancelButton()->isVisible());
    EXPECT_EQ(prompts.touchNotices, 1u);

    clock.release();  // the key's touch comes 1.5 s into the wait
    ASSERT_TRUE(settle());
    EXPECT_FALSE(window->statusLine()->isVisible());
    EXPECT_GE(rowWithLabel(FIDO2, QStringLiteral("Base64 encode")), 0);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(DeviceWork, CancelSendsCtaphidCancelAndEndsTheFetch) {
    VirtualKey& key = backend->addDevice("slow-touch");
    openSettled().show();
    startHeldFetch(FIDO2);
    key.clearLog();
    window->cancelButton()->click();
    EXPECT_FALSE(window->cancelButton()->isEnabled());
    clock.release();
    ASSERT_TRUE(settle());

    EXPECT_GT(test::requestCount(key, CTAPHID_CANCEL), 0u);
    EXPECT_FALSE(key.waitingForTouch());
    ASSERT_EQ(table(FIDO2)->rowCount(), 1);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));

    // The cancel was for that fetch: the next one waits for its touch again.
    activateRow(FIDO2, 0);
    EXPECT_GE(rowWithLabel(FIDO2, QStringLiteral("Base64 encode")), 0);
    EXPECT_FALSE(window->statusLine()->isVisible());
}

TEST_F(DeviceWork, CancelOfEitherFetchShowsNoMessageAndSaysSoOnTheStatusLine) {
    VirtualKey& key = backend->addDevice("slow-touch");
    openSettled().show();
    for (int tab : {FIDO2, U2F}) {
        SCOPED_TRACE(tab);
        startHeldFetch(tab);
        window->cancelButton()->click();
        clock.release();
        ASSERT_TRUE(settle());
        EXPECT_FALSE(key.waitingForTouch());
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_TRUE(window->statusLine()->isVisible());
        EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("The fetch was cancelled."));
        EXPECT_FALSE(window->cancelButton()->isVisible());
        EXPECT_EQ(rowWithLabel(tab, QStringLiteral("Base64 encode")), -1);
    }
}

TEST_F(DeviceWork, SilentKeyDoesNotKeepTheWindowFromShowing) {
    backend->addDevice("silent");
    clock.hold();  // the refresh waits for the key's answer until released
    QElapsedTimer elapsed;
    elapsed.start();
    open().show();
    const bool exposed = test::waitUntil(
        [this] { return window->windowHandle() != nullptr && window->windowHandle()->isExposed(); },
        1000);
    EXPECT_TRUE(exposed);
    EXPECT_LT(elapsed.elapsed(), 1000);
    ASSERT_TRUE(test::waitUntil([this] { return clock.sleeperHeld(); }));
    EXPECT_TRUE(window->isBusy());

    clock.release();
    ASSERT_TRUE(settle());
    EXPECT_EQ(cell(HARDWARE, 0, 0), QStringLiteral("Device name"));
}

TEST_F(DeviceWork, SilentKeyIsNamedOnTheStatusLineWhileWaitingAndAtTheEnd) {
    backend->addDevice("silent");
    clock.hold();  // the refresh waits for the key's answer until released
    open().show();
    ASSERT_TRUE(test::waitUntil([this] { return clock.sleeperHeld(); }));
    EXPECT_FALSE(window->statusLine()->isVisible());  // a key may take a moment
    fireTimer(window->answerTimer());
    EXPECT_TRUE(window->statusLine()->isVisible());
    EXPECT_EQ(window->statusLabel()->text(), QString::fromUtf8(KEY_SILENT_TEXT));
    EXPECT_TRUE(window->cancelButton()->isVisible());

    clock.release();
    ASSERT_TRUE(settle());
    const QString silent =
        QStringLiteral("The key Orvanta Virtual Key (virtual:0:0) does not answer.");
    EXPECT_TRUE(window->statusLine()->isVisible());
    EXPECT_EQ(window->statusLabel()->text(), silent);
    EXPECT_FALSE(window->cancelButton()->isVisible());

    // A fetch on it ends with the same line, after its question.
    prompts.okCancelDefault = true;
    activateRow(FIDO2, 0);
    EXPECT_EQ(window->statusLabel()->text(), silent);
    EXPECT_TRUE(window->statusLine()->isVisible());
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(DeviceWork, FetchWithoutCertificatesSaysWhyAndAPromptHoldsTheWaitNotice) {
    backend->addDevice("pin");
    openSettled().show();
    prompts.okCancelDefault = true;
    prompts.pinDefault = "9999";
    // The PIN dialog is the user's time, not the key's: the notice waits while it is open.
    bool timerRanDuringPin = true;
    prompts.onPin = [this, &timerRanDuringPin] {
        timerRanDuringPin = window->answerTimer()->isActive();
    };
    activateRow(FIDO2, 0);
    EXPECT_FALSE(timerRanDuringPin);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "PIN Invalid.");
    EXPECT_TRUE(window->statusLine()->isVisible());
    EXPECT_EQ(window->statusLabel()->text(),
              QStringLiteral("The fetch ended without certificates: PIN Invalid."));
    EXPECT_FALSE(window->answerTimer()->isActive());
}

TEST_F(DeviceWork, DeviceEventDuringAFetchIsHandledAfterIt) {
    backend->addDevice("slow-touch");
    openSettled();
    startHeldFetch(FIDO2);
    backend->enumeratedAt.clear();
    window->onDeviceEvent({DeviceChange::Arrival, "1209", "0001", 3});
    fireSettleTimer();
    EXPECT_TRUE(backend->enumeratedAt.empty());  // the fetch still runs

    clock.release();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend->enumeratedAt.size(), 1u);
    // The refresh came after the fetch: its page is back to the Tips row.
    ASSERT_EQ(table(FIDO2)->rowCount(), 1);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));
}

TEST_F(DeviceWork, ClosingTheWindowDuringAFetchEndsIt) {
    VirtualKey& key = backend->addDevice("slow-touch");
    openSettled();
    startHeldFetch(FIDO2);
    // Held until the window cancels the exchange, which it does before waiting for the worker.
    DeviceContext& context = devices;
    clock.setReleaseIf([&context] { return context.session().cancelRequested(); });
    window.reset();
    EXPECT_GT(test::requestCount(key, CTAPHID_CANCEL), 0u);
}

}  // namespace
}  // namespace orvanta
