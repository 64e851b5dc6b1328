// The main window on Qt's offscreen platform, over the virtual key.

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/dialog_units.h"
#include "app/page_views.h"
#include "gui/window_fixture.h"

namespace orvanta {
namespace {

using test::ScopedModalHook;
using test::WindowFixture;

TEST_F(WindowFixture, CaptionSizeAndTabTitles) {
    COrvantaDlg& dlg = openSettled();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Orvanta"));
    EXPECT_FALSE(dlg.windowIcon().isNull());
    // Opens at its design size and can be made larger and smaller.
    const QSize expected = dialogUnitsToPixels(dlg, 418, 243);
    EXPECT_EQ(dlg.size(), expected);
    EXPECT_LT(dlg.minimumSize().width(), expected.width());
    EXPECT_LT(dlg.minimumSize().height(), expected.height());
    EXPECT_GT(dlg.maximumSize().width(), expected.width());
    QTabWidget* tabs = dlg.tabs();
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("hardware info"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("FIDO2 Certification"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("U2F Certification"));
    EXPECT_EQ(tabs->tabText(3), QStringLiteral("Conformance"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    const char* names[] = {"info", "fido2", "u2f"};
    for (int index = 0; index < 3; ++index) {
        auto* tab = qobject_cast<PageTab*>(tabs->widget(index));
        ASSERT_NE(tab, nullptr) << index;
        EXPECT_EQ(tab->page().name, names[index]);
    }
}

TEST_F(WindowFixture, SwitchingTabsShowsOnlyTheChosenPage) {
    COrvantaDlg& dlg = openSettled();
    dlg.show();
    QTabWidget* tabs = dlg.tabs();
    EXPECT_TRUE(tabs->widget(HARDWARE)->isVisible());
    EXPECT_FALSE(tabs->widget(FIDO2)->isVisible());
    tabs->setCurrentIndex(U2F);
    EXPECT_FALSE(tabs->widget(HARDWARE)->isVisible());
    EXPECT_FALSE(tabs->widget(FIDO2)->isVisible());
    EXPECT_TRUE(tabs->widget(U2F)->isVisible());
    tabs->setCurrentIndex(HARDWARE);
    EXPECT_TRUE(tabs->widget(HARDWARE)->isVisible());
    EXPECT_FALSE(tabs->widget(U2F)->isVisible());
    dlg.hide();
}

TEST_F(WindowFixture, PagesAreTwoColumnTablesWhoseLabelsStayWhole) {
    backend->addDevice("default");
    COrvantaDlg& dlg = openSettled();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    prompts.okCancelDefault = true;
    activateRow(FIDO2, 0);  // the certificate rows, with labels of their own
    const int designWidths[] = {150, 120, 120};
    for (int tab = 0; tab < 3; ++tab) {
        SCOPED_TRACE(tab);
        dlg.tabs()->setCurrentIndex(tab);
        QTableWidget* list = table(tab);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->columnCount(), 2);
        EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("Item"));
        EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
        // The Item column holds its longest label (and is never narrower than designed).
        int longest = 0;
        for (int row = 0; row < list->rowCount(); ++row) {
            longest = std::max(longest, list->fontMetrics().horizontalAdvance(cell(tab, row, 0)));
        }
        EXPECT_GT(list->columnWidth(0), longest);
        EXPECT_GE(list->columnWidth(0), designWidths[tab]);
        // The Value column takes the rest; long values are cut, nothing scrolls sideways.
        EXPECT_EQ(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
        EXPECT_TRUE(list->showGrid());
        EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    }
    QTableWidget* hardware = table(HARDWARE);
    dlg.tabs()->setCurrentIndex(HARDWARE);
    EXPECT_GE(rowWithLabel(HARDWARE, QStringLiteral("Fingerprint Module Version")), 0);
    EXPECT_GT(hardware->columnWidth(0), designWidths[HARDWARE]);

    // Ctrl+End goes to the last row with the labels still in view.
    hardware->setFocus();
    QTest::keyClick(hardware, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(hardware->currentRow(), hardware->rowCount() - 1);
    EXPECT_EQ(hardware->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(hardware->columnViewportPosition(0), 0);

    // A wider window widens the values only, up to the table's edge.
    const int labels = hardware->columnWidth(0);
    const int before = hardware->columnWidth(1);
    dlg.resize(dlg.width() + 300, dlg.height());
    ASSERT_TRUE(test::waitUntil([&] {
        return hardware->columnWidth(0) + hardware->columnWidth(1) == hardware->viewport()->width();
    })) << hardware->columnWidth(1)
        << " in " << hardware->viewport()->width();
    EXPECT_GT(hardware->columnWidth(1), before);
    EXPECT_EQ(hardware->columnWidth(0), labels);
    dlg.hide();
}

TEST_F(WindowFixture, VirtualKeyRowsAreShownOnTheHardwarePage) {
    backend->addDevice("default");
    COrvantaDlg& dlg = openSettled();
    QTableWidget* hardware = table(HARDWARE);
    ASSERT_GE(hardware->rowCount(), 5);
    EXPECT_EQ(cell(HARDWARE, 0, 0), QStringLiteral("Device name"));
    EXPECT_EQ(cell(HARDWARE, 0, 1), QStringLiteral("Orvanta Virtual Key"));
    EXPECT_EQ(cell(HARDWARE, 1, 0), QStringLiteral("VID"));
    EXPECT_EQ(cell(HARDWARE, 1, 1), QStringLiteral("1209"));
    EXPECT_EQ(cell(HARDWARE, 2, 0), QStringLiteral("PID"));
    EXPECT_EQ(cell(HARDWARE, 2, 1), QStringLiteral("0001"));
    EXPECT_EQ(cell(HARDWARE, 3, 0), QStringLiteral("Firmware Version"));
    // The table mirrors the model row by row.
    const std::vector<Row>& rows = dlg.pages().hardware.rows();
    ASSERT_EQ(hardware->rowCount(), static_cast<int>(rows.size()));
    bool sawGetInfo = false;
    for (int i = 0; i < hardware->rowCount(); ++i) {
        EXPECT_EQ(cell(HARDWARE, i, 0).toStdString(), rows[static_cast<size_t>(i)].label);
        EXPECT_EQ(cell(HARDWARE, i, 1).toStdString(), rows[static_cast<size_t>(i)].valueText());
        sawGetInfo = sawGetInfo || rows[static_cast<size_t>(i)].label == "authenticatorGetInfo";
    }
    EXPECT_TRUE(sawGetInfo);
    // Values wider than the column can still be read whole in their tool tip.
    const int getInfoRow = hardware->rowCount() - 1;
    EXPECT_EQ(hardware->item(getInfoRow, 1)->toolTip(), cell(HARDWARE, getInfoRow, 1));
    ASSERT_EQ(table(FIDO2)->rowCount(), 1);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));
    ASSERT_EQ(table(U2F)->rowCount(), 2);
    EXPECT_EQ(cell(U2F, 1, 0), QStringLiteral(" "));
    EXPECT_FALSE(dlg.permissionHintLabel()->isVisibleTo(&dlg));
    // One key: no chooser, no status line; the window looks as it always did.
    EXPECT_FALSE(dlg.keyChooserRow()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.statusLine()->isVisibleTo(&dlg));
}

TEST_F(WindowFixture, NoKeyLeavesAllThreePagesEmptyAndTheStatusLineSaysSoUntilOneArrives) {
    COrvantaDlg& dlg = openSettled();
    for (int tab = 0; tab < 3; ++tab) {
        EXPECT_EQ(table(tab)->rowCount(), 0) << tab;
    }
    EXPECT_TRUE(dlg.statusLine()->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.statusLabel()->text(), QStringLiteral("No security key found: plug one in"));
    EXPECT_FALSE(dlg.cancelButton()->isVisibleTo(&dlg));

    backend->addDevice("default");
    dlg.onDeviceEvent({DeviceChange::Arrival, "1209", "0001", 1});
    fireSettleTimer();
    ASSERT_TRUE(settle());
    EXPECT_GT(table(HARDWARE)->rowCount(), 4);
    EXPECT_FALSE(dlg.statusLine()->isVisibleTo(&dlg));

    backend->removeDevice(0);
    dlg.onDeviceEvent({DeviceChange::RemoveComplete, "1209", "0001", 2});
    fireSettleTimer();
    ASSERT_TRUE(settle());
    EXPECT_EQ(dlg.statusLabel()->text(), QStringLiteral("No security key found: plug one in"));
    EXPECT_TRUE(dlg.statusLine()->isVisibleTo(&dlg));
}

// Collects the debug trace while it lives.
class TraceCapture {
  public:
    TraceCapture() {
        lines().clear();
        previous_ = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { lines() << text; });
    }
    ~TraceCapture() { qInstallMessageHandler(previous_); }
    static QStringList& lines() {
        static QStringList captured;
        return captured;
    }

  private:
    QtMessageHandler previous_;
};

TEST_F(WindowFixture, ArrivalEventRefreshesAfterTheWait) {
    COrvantaDlg& dlg = openSettled();
    ASSERT_EQ(table(HARDWARE)->rowCount(), 0);
    backend->addDevice("default");
    backend->enumeratedAt.clear();
    int result = 0;
    {
        TraceCapture trace;
        result = dlg.onDeviceEvent({DeviceChange::Arrival, "1209", "0001", 7});
        ASSERT_EQ(TraceCapture::lines().size(), 1);
        EXPECT_EQ(TraceCapture::lines()[0],
                  QStringLiteral("message: 00000219, wparam: 00008000, lparam: 00000007\r\n"));
    }
    EXPECT_EQ(result, 1);
    // The wait is a timer: the window goes on with its events, the key is not looked at.
    QCoreApplication::processEvents();
    EXPECT_TRUE(backend->enumeratedAt.empty());
    EXPECT_FALSE(dlg.isBusy());
    fireSettleTimer();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend->enumeratedAt.size(), 1u);
    EXPECT_EQ(cell(HARDWARE, 0, 1), QStringLiteral("Orvanta Virtual Key"));
    EXPECT_EQ(table(FIDO2)->rowCount(), 1);
}

TEST_F(WindowFixture, EventsWithinTheWaitRefreshOnceWithTheLastIds) {
    COrvantaDlg& dlg = openSettled();
    backend->addDevice("default");
    backend->enumeratedAt.clear();
    TraceCapture trace;
    dlg.onDeviceEvent({DeviceChange::Arrival, "046D", "C52B", 1});
    dlg.onDeviceEvent({DeviceChange::Arrival, "1209", "0001", 2});
    EXPECT_EQ(TraceCapture::lines().size(), 2);
    fireSettleTimer();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend->enumeratedAt.size(), 1u);
    EXPECT_EQ(cell(HARDWARE, 0, 1), QStringLiteral("Orvanta Virtual Key"));
}

TEST_F(WindowFixture, RemovalEventEmptiesThePages) {
    backend->addDevice("default");
    COrvantaDlg& dlg = openSettled();
    ASSERT_GT(table(HARDWARE)->rowCount(), 0);
    backend->removeDevice(0);
    TraceCapture trace;
    EXPECT_EQ(dlg.onDeviceEvent({DeviceChange::RemoveComplete, "1209", "0001", 8}), 1);
    fireSettleTimer();
    ASSERT_TRUE(settle());
    for (int tab = 0; tab < 3; ++tab) {
        EXPECT_EQ(table(tab)->rowCount(), 0) << tab;
    }
}

TEST_F(WindowFixture, OtherDeviceEventIsTracedButDoesNotRefresh) {
    backend->addDevice("default");
    COrvantaDlg& dlg = openSettled();
    backend->enumeratedAt.clear();
    TraceCapture trace;
    EXPECT_EQ(dlg.onDeviceEvent({DeviceChange{0x0007}, "", "", 9}), 0);
    EXPECT_EQ(TraceCapture::lines().size(), 1);
    EXPECT_FALSE(dlg.settleTimer()->isActive());
    EXPECT_TRUE(backend->enumeratedAt.empty());
}

struct AboutSeen {
    int opened = 0;
    QString title;
    QStringList labels;
};

ScopedModalHook aboutHook(AboutSeen& seen) {
    return ScopedModalHook([&seen](QDialog& dialog) {
        ++seen.opened;
        EXPECT_NE(qobject_cast<CAboutDlg*>(&dialog), nullptr);
        seen.title = dialog.windowTitle();
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            seen.labels << label->text();
        }
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        return dialog.result();
    });
}

TEST_F(WindowFixture, AboutBoxOpensFromTheHelpButton) {
    COrvantaDlg& dlg = openSettled();
    AboutSeen seen;
    auto hook = aboutHook(seen);
    EXPECT_EQ(dlg.aboutAction()->text(), QStringLiteral("&About Orvanta..."));
    dlg.tabs()->findChild<QToolButton*>(QStringLiteral("aboutButton"))->click();
    EXPECT_EQ(seen.opened, 1);
    EXPECT_EQ(seen.title, QStringLiteral("About Orvanta"));
    EXPECT_TRUE(seen.labels.contains(QStringLiteral("Orvanta, Version 1.0")));
}

TEST_F(WindowFixture, AboutBoxOpensWithF1) {
    COrvantaDlg& dlg = openSettled();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    AboutSeen seen;
    auto hook = aboutHook(seen);
    EXPECT_EQ(dlg.aboutAction()->shortcut(), QKeySequence(Qt::Key_F1));
    QTest::keyClick(&dlg, Qt::Key_F1);
    EXPECT_EQ(seen.opened, 1);
    dlg.hide();
}

TEST_F(WindowFixture, EnterAndEscapeEndTheWindow) {
    COrvantaDlg& dlg = openSettled();
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(WindowFixture, KeyThatCannotBeOpenedShowsTheHintAndEmptyPages) {
    Profile locked = profileByName("default");
    locked.openError = "permission denied";
    backend->addDevice(locked);
    COrvantaDlg& dlg = openSettled();
    QLabel* hint = dlg.permissionHintLabel();
    EXPECT_TRUE(hint->isVisibleTo(&dlg));
    EXPECT_TRUE(
        hint->text().startsWith(QStringLiteral("Cannot open Orvanta Virtual Key (virtual:")))
        << hint->text().toStdString();
    EXPECT_TRUE(hint->text().contains(QStringLiteral("permission denied")));
    EXPECT_TRUE(hint->text().contains(QStringLiteral("ENV{ID_SECURITY_TOKEN}==\"1\"")));
    for (int tab = 0; tab < 3; ++tab) {
        EXPECT_EQ(table(tab)->rowCount(), 0) << tab;
    }

    // Access granted and the key replugged: the hint goes, the rows come.
    backend->removeDevice(0);
    backend->addDevice("default");
    TraceCapture trace;
    dlg.onDeviceEvent({DeviceChange::Arrival, "1209", "0001", 1});
    fireSettleTimer();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(hint->isVisibleTo(&dlg));
    EXPECT_GT(table(HARDWARE)->rowCount(), 4);
}

}  // namespace
}  // namespace orvanta
