// Double clicks (and Enter) on the certification pages reach the page models' handlers,
// which run on the window's device worker.

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "gui/window_fixture.h"
#include "report/page_report.h"

namespace orvanta {
namespace {

using test::WindowFixture;

enum { HARDWARE = 0, FIDO2 = 1, U2F = 2 };

class PageClicks : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        backend->addDevice("default");
        openSettled().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        // Exported certificates stay after the program; the tests leave none behind.
        window->pages().fido2.clearCertificatePage();
        window->pages().u2f.clearCertificatePage();
        WindowFixture::TearDown();
    }
    void doubleClick(int tab, int row) {
        window->tabs()->setCurrentIndex(tab);
        QTableWidget* list = table(tab);
        const QRect rect = list->visualItemRect(list->item(row, 0));
        ASSERT_TRUE(rect.isValid());
        // A click, then the double-click event itself, as the window system delivers them
        // (QTest's synthetic double click does not reach item views on every platform).
        const QPoint at = rect.center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QMouseEvent twice(QEvent::MouseButtonDblClick, at, list->viewport()->mapToGlobal(at),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &twice);
        // What the double click started runs on the window's worker.
        ASSERT_TRUE(settle());
    }
};

TEST_F(PageClicks, TipsOnTheFido2PageAsksBeforeFetchingAndCancelKeepsThePage) {
    prompts.okCancelDefault = false;
    doubleClick(FIDO2, 0);
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], TIPS_TEXT);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PageClicks, Fido2FetchShowsCertificateRowsAndBase64RowOpensTheFile) {
    prompts.okCancelDefault = true;
    doubleClick(FIDO2, 0);
    EXPECT_TRUE(prompts.messages.empty());
    ASSERT_GT(table(FIDO2)->rowCount(), 2);
    EXPECT_EQ(cell(FIDO2, 0, 0), QStringLiteral("Tips"));
    const int base64 = rowWithLabel(FIDO2, QStringLiteral("Base64 encode"));
    ASSERT_GE(base64, 0);
    doubleClick(FIDO2, base64);
    ASSERT_EQ(prompts.openedFiles.size(), 1u);
    EXPECT_TRUE(prompts.openedFiles[0].size() > 4 &&
                prompts.openedFiles[0].substr(prompts.openedFiles[0].size() - 4) == ".cer");
    EXPECT_TRUE(std::filesystem::exists(prompts.openedFiles[0]));
}

TEST_F(PageClicks, U2fFetchShowsItsCertificate) {
    prompts.okCancelDefault = true;
    doubleClick(U2F, 0);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_GT(table(U2F)->rowCount(), 2);
    EXPECT_GE(rowWithLabel(U2F, QStringLiteral("Base64 encode")), 0);
}

TEST_F(PageClicks, HardwarePageDoubleClickAsksNothing) {
    doubleClick(HARDWARE, 0);
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PageClicks, EnterOnARowActsAsADoubleClickAndKeepsTheWindowOpen) {
    prompts.okCancelDefault = false;
    window->tabs()->setCurrentIndex(FIDO2);
    QTableWidget* list = table(FIDO2);
    list->setCurrentCell(0, 0);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(settle());
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], TIPS_TEXT);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(PageClicks, CtrlCAndTheContextMenuCopyValuesRowsAndThePage) {
    window->activateWindow();
    QTableWidget* list = table(HARDWARE);
    list->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    list->selectRow(1);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("VID\t1209"));

    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    page(HARDWARE)->copyRowAction()->trigger();
    EXPECT_EQ(clipboard->text(), QStringLiteral("VID\t1209\nPID\t0001"));

    list->selectRow(0);
    page(HARDWARE)->copyValueAction()->trigger();
    EXPECT_EQ(clipboard->text(), QStringLiteral("Orvanta Virtual Key"));

    // The page as the text report prints it, cut cells whole.
    page(HARDWARE)->copyPageAction()->trigger();
    const std::string expected = report::reportText(
        {report::PageView{report::HARDWARE_TITLE, window->pages().hardware.rows()}});
    EXPECT_EQ(clipboard->text().toStdString(), expected);
    EXPECT_EQ(expected.rfind("hardware info\nItem", 0), 0u);
}

// Another program holds the key while the PIN goes to it: the key's CTAPHID_ERROR code is
// the PIN step's status, shown in its words.
using BusyKey = WindowFixture;
TEST_F(BusyKey, PinStepShowsChannelBusy) {
    backend->addDevice("pin-busy");
    openSettled();
    prompts.okCancelDefault = true;
    prompts.enterPin("1234");
    activateRow(FIDO2, 0);
    EXPECT_EQ(prompts.pinRequests, 1u);
    EXPECT_EQ(prompts.messages,
              (std::vector<test::ScriptedPrompts::Message>{{"Channel busy.", MessageIcon::Error}}));
    EXPECT_EQ(table(FIDO2)->rowCount(), 1);
}

}  // namespace
}  // namespace orvanta
