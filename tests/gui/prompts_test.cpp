// The window's message boxes and the PIN dialog, answered through the modal hook.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/dialog_pin.h"
#include "app/qt_user_prompts.h"
#include "gui/modal_hook.h"

namespace orvanta {
namespace {

using test::ScopedModalHook;

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

TEST(QtPrompts, MessagesCarryTheApplicationCaptionAndTheirIcon) {
    std::vector<SeenBox> seen;
    ScopedModalHook hook([&](QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        EXPECT_NE(box, nullptr);
        if (box != nullptr) {
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                            box->textFormat()});
        }
        return static_cast<int>(QMessageBox::Ok);
    });
    QtUserPrompts prompts;
    prompts.show({MessageCode::PinStepFailed, 0x31});
    prompts.show({MessageCode::PinEmpty});
    prompts.showMessage("程序已在运行！", MessageIcon::Information);
    // Texts carry what a key or a metadata BLOB sent: markup in them is shown, not rendered.
    prompts.showMessage("<b>REVOKED</b><img src=\"http://x/y.png\">", MessageIcon::Warning);
    ASSERT_EQ(seen.size(), 4u);
    for (const SeenBox& box : seen) {
        EXPECT_EQ(box.title, QStringLiteral("Orvanta"));
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
        EXPECT_EQ(box.format, Qt::PlainText);
    }
    EXPECT_EQ(seen[0].text, QStringLiteral("PIN Invalid."));
    EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(seen[1].text, QStringLiteral("PIN cannot be empty!"));
    EXPECT_EQ(seen[1].icon, QMessageBox::Warning);
    EXPECT_EQ(seen[2].icon, QMessageBox::Information);
    EXPECT_EQ(seen[2].text, QString::fromUtf8("程序已在运行！"));
}

TEST(QtPrompts, OkCancelQuestionIsAWarningWithBothButtons) {
    SeenBox seen;
    int answer = QMessageBox::Ok;
    ScopedModalHook hook([&](QDialog& dialog) {
        auto& box = static_cast<QMessageBox&>(dialog);
        seen = {box.windowTitle(), box.text(), box.icon(), box.standardButtons(), box.textFormat()};
        return answer;
    });
    QtUserPrompts prompts;
    EXPECT_TRUE(prompts.confirm(Question::StartRegistration));
    EXPECT_EQ(seen.text, QStringLiteral("Double click and press button/verify fingerprint to "
                                        "fetch certifications!"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(seen.title, QStringLiteral("Orvanta"));
    EXPECT_EQ(seen.format, Qt::PlainText);
    answer = QMessageBox::Cancel;
    EXPECT_FALSE(prompts.confirm(Question::StartRegistration));
}

TEST(PinDialog, FieldIsMaskedAndOkTakesItsText) {
    CDialogPIN dialog;
    EXPECT_EQ(dialog.edit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.windowTitle(), QString());
    dialog.edit()->setText(QStringLiteral("1234"));
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.pin(), QStringLiteral("1234"));
    EXPECT_TRUE(dialog.edit()->text().isEmpty());
    dialog.wipe();
    EXPECT_TRUE(dialog.pin().isEmpty());
}

TEST(PinDialog, CancelEmptiesThePin) {
    CDialogPIN dialog;
    dialog.edit()->setText(QStringLiteral("1234"));
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    dialog.edit()->setText(QStringLiteral("5678"));
    dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.pin().isEmpty());
}

TEST(QtPrompts, AskPinGivesTheTypedTextAsUtf8) {
    ScopedModalHook hook([](QDialog& dialog) {
        auto& pin = static_cast<CDialogPIN&>(dialog);
        pin.edit()->setText(QString::fromUtf8("pä55"));
        pin.onOk();
        return pin.result();
    });
    QtUserPrompts prompts;
    std::string pin = "left over";
    EXPECT_TRUE(prompts.askPin(pin));
    EXPECT_EQ(pin,
              "p\xC3\xA4"
              "55");
}

TEST(QtPrompts, AskPinCancelledLeavesThePinEmpty) {
    ScopedModalHook hook([](QDialog& dialog) {
        auto& pin = static_cast<CDialogPIN&>(dialog);
        pin.edit()->setText(QStringLiteral("1234"));
        pin.onCancel();
        return pin.result();
    });
    QtUserPrompts prompts;
    std::string pin = "left over";
    EXPECT_FALSE(prompts.askPin(pin));
    EXPECT_TRUE(pin.empty());
}

TEST(QtPrompts, AskPinConfirmedEmptyIsStillConfirmed) {
    ScopedModalHook hook([](QDialog& dialog) {
        auto& pin = static_cast<CDialogPIN&>(dialog);
        pin.onOk();
        return pin.result();
    });
    QtUserPrompts prompts;
    std::string pin;
    EXPECT_TRUE(prompts.askPin(pin));
    EXPECT_TRUE(pin.empty());
}

}  // namespace
}  // namespace orvanta
