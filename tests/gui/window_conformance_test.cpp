// The Conformance tab: the check runs on the window's worker, one row per check as it ends,
// and Cancel ends it while the key is still being checked.

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/conformance_tab.h"
#include "gui/window_fixture.h"

namespace orvanta::test {
namespace {

int rowOf(QTableWidget* table, const QString& rule) {
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0)->text() == rule) {
            return row;
        }
    }
    return -1;
}

TEST_F(WindowFixture, ConformanceTabChecksOnTheWorkerAndCancels) {
    VirtualKey& key = backend->addDevice("nonconform-u2f");
    COrvantaDlg& dlg = openSettled();
    ConformanceTab* tab = dlg.conformanceTab();
    ASSERT_EQ(dlg.tabs()->indexOf(tab), 3);
    dlg.tabs()->setCurrentWidget(tab);

    tab->runButton()->click();
    ASSERT_TRUE(settle());
    QTableWidget* table = tab->table();
    EXPECT_EQ(table->rowCount(), 30);
    EXPECT_EQ(tab->progress()->value(), 30);
    EXPECT_EQ(tab->summary()->text(), QStringLiteral("23 passed, 5 failed, 2 skipped."));
    const int cla = rowOf(table, QStringLiteral("A wrong CLA gives 6E00"));
    ASSERT_GE(cla, 0);
    EXPECT_EQ(table->item(cla, 1)->text(), QStringLiteral("U2F raw messages §3.3"));
    EXPECT_EQ(table->item(cla, 2)->text(), QStringLiteral("FAIL"));
    EXPECT_EQ(table->item(cla, 3)->text(),
              QStringLiteral("status word 6D00; status word 6E00 expected"));

    // The worker waits in the key's link; the window answers, and Cancel ends the run.
    key.setLinkDelay(1);
    clock.hold();
    tab->runButton()->click();
    ASSERT_TRUE(waitUntil([this] { return clock.sleeperHeld(); }));
    EXPECT_TRUE(dlg.isBusy());
    EXPECT_TRUE(tab->running());
    EXPECT_FALSE(tab->runButton()->isEnabled());
    ASSERT_TRUE(tab->cancelButton()->isEnabled());
    tab->cancelButton()->click();
    clock.release();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(tab->running());
    EXPECT_TRUE(tab->runButton()->isEnabled());
    EXPECT_TRUE(tab->summary()->text().endsWith(QStringLiteral("(cancelled).")))
        << tab->summary()->text().toStdString();
    ASSERT_EQ(table->rowCount(), 30);
    EXPECT_EQ(table->item(29, 2)->text(), QStringLiteral("SKIP"));
    EXPECT_EQ(table->item(29, 3)->text(), QStringLiteral("cancelled"));
}

}  // namespace
}  // namespace orvanta::test
