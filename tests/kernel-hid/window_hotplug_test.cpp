// The window over the kernel's HID stack (run by tests/kernel-hid/run inside scripts/vm-test):
// keys made by orvanta-uhid arrive and leave, and the window follows from the real udev
// events alone. Skipped where /dev/uhid cannot be opened.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QTableWidget>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/orvanta_dlg.h"
#include "app/page_table.h"
#include "gui/window_fixture.h"
#include "info/device_context.h"
#include "support/scripted_prompts.h"
#include "support/virtual_reader.h"
#include "transport/clock.h"
#include "transport/hidapi_backend.h"

namespace orvanta {
namespace {

constexpr int ARRIVAL_WAIT_MS = 60000;  // a udev event, the settle pause and a refresh

std::unique_ptr<test::ChildProcess> plugIn(const std::string& name, const std::string& pid) {
    auto child = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{ORVANTA_UHID_PATH, "--virtual=default", "--name=" + name,
                                 "--pid=" + pid},
        "/dev/null", "/dev/null");
    EXPECT_TRUE(child->started());
    return child;
}

size_t hidrawNodes() {
    std::error_code error;
    auto entries = std::filesystem::directory_iterator("/sys/class/hidraw", error);
    return error ? 0 : static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

int chooserIndex(QComboBox* chooser, const QString& start) {
    for (int i = 0; i < chooser->count(); ++i) {
        if (chooser->itemText(i).startsWith(start)) {
            return i;
        }
    }
    return -1;
}

// Every cell of a page, row by row.
std::vector<QString> pageCells(COrvantaDlg& window, int tab) {
    std::vector<QString> cells;
    auto* page = qobject_cast<PageTable*>(window.tabs()->widget(tab));
    QTableWidget* table = page->table();
    for (int r = 0; r < table->rowCount(); ++r) {
        for (int c = 0; c < table->columnCount(); ++c) {
            QTableWidgetItem* item = table->item(r, c);
            cells.push_back(item != nullptr ? item->text() : QString());
        }
    }
    return cells;
}

TEST(KernelHidWindow, FollowsKeysThatArriveAndLeave) {
    if (::access("/dev/uhid", R_OK | W_OK) != 0) {
        GTEST_SKIP() << "no /dev/uhid here (scripts/vm-test runs this test)";
    }
    SystemClock clock;
    DeviceContext devices(hidKeys(std::make_shared<HidapiBackend>(clock)), clock);
    test::ScriptedPrompts prompts;
    auto first = plugIn("Hot Key A", "0A01");
    auto second = plugIn("Hot Key B", "0B02");
    // Both nodes are there before the window looks (the events of keys already present
    // went by before it listened).
    ASSERT_TRUE(test::waitUntil([] { return hidrawNodes() == 2; }, ARRIVAL_WAIT_MS));
    COrvantaDlg window(devices, &prompts);
    ASSERT_TRUE(window.registerDeviceNotifications());
    QComboBox* chooser = window.keyChooser();
    ASSERT_TRUE(
        test::waitUntil([&] { return !window.isBusy() && chooser->count() == 2; }, ARRIVAL_WAIT_MS))
        << chooser->count();
    const int a = chooserIndex(chooser, QStringLiteral("Hot Key A (1209:0A01), /dev/hidraw"));
    ASSERT_GE(a, 0) << chooser->itemText(0).toStdString();
    chooser->setCurrentIndex(a);
    emit chooser->activated(a);
    ASSERT_TRUE(test::settle(window));
    const std::vector<QString> hardware = pageCells(window, 0);
    ASSERT_GT(hardware.size(), 8u);

    auto third = plugIn("Hot Key C", "0C03");  // arrives
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return !window.isBusy() &&
                   chooserIndex(chooser, QStringLiteral("Hot Key C (1209:0C03), /dev/hidraw")) >= 0;
        },
        ARRIVAL_WAIT_MS))
        << "the arriving key is not shown";
    EXPECT_EQ(chooser->count(), 3);
    EXPECT_TRUE(chooser->currentText().startsWith(QStringLiteral("Hot Key A")));
    EXPECT_EQ(pageCells(window, 0), hardware);  // the chosen key's pages stay

    second->stop();  // leaves: the device is destroyed
    ASSERT_TRUE(test::waitUntil(
        [&] { return !window.isBusy() && chooserIndex(chooser, QStringLiteral("Hot Key B")) < 0; },
        ARRIVAL_WAIT_MS))
        << "the key that left is still in the chooser";
    EXPECT_EQ(chooser->count(), 2);
    EXPECT_TRUE(chooser->currentText().startsWith(QStringLiteral("Hot Key A")));
    EXPECT_EQ(pageCells(window, 0), hardware);
}

}  // namespace
}  // namespace orvanta
