// The window's message boxes and the PIN dialog, answered through the modal hook.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

#include "app/certificate_view.h"
#include "app/dialog_pin.h"
#include "app/qt_user_prompts.h"
#include "gui/modal_hook.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

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

// What the openssl command prints for the certificate file with these options.
QString opensslOutput(const std::string& file, const QStringList& options) {
    QProcess openssl;
    openssl.start(
        QStringLiteral("openssl"),
        QStringList{QStringLiteral("x509"), QStringLiteral("-inform"), QStringLiteral("DER"),
                    QStringLiteral("-in"), QString::fromStdString(file)} +
            options);
    if (!openssl.waitForFinished(10000) || openssl.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(openssl.readAllStandardOutput());
}

TEST(QtPrompts, CertificateGoesToTheDesktopAndToTheOwnViewWhenTheDesktopHasNone) {
    test::TempDir dir;
    const std::string file = dir.file("f1d0test.cer");
    {
        const test::P256TestKey key(7);
        test::CertificateRequest request;
        request.subject.back().second = "Schlüssel, \"7\"";  // escaped as openssl does
        const std::vector<uint8_t> der = test::makeCertificate(request, key, key);
        std::FILE* out = std::fopen(file.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(der.data(), 1, der.size(), out), der.size());
        std::fclose(out);
    }
    QWidget window;
    QStringList handed;
    bool desktopHasViewer = true;
    QtUserPrompts prompts(&window, [&](const QString& path, std::function<void()> noHandler) {
        handed << path;
        if (!desktopHasViewer) {
            noHandler();
        }
    });

    prompts.openFile(file);
    EXPECT_EQ(handed, QStringList{QString::fromStdString(file)});
    EXPECT_EQ(window.findChild<CertificateView*>(), nullptr);

    desktopHasViewer = false;
    prompts.openFile(file);
    EXPECT_EQ(handed.size(), 2);
    auto* view = window.findChild<CertificateView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    const QString text = opensslOutput(file, {QStringLiteral("-noout"), QStringLiteral("-text")});
    ASSERT_FALSE(text.isEmpty()) << "openssl x509 did not run";
    EXPECT_EQ(view->textView()->toPlainText().toStdString(), text.toStdString());
    EXPECT_TRUE(view->textView()->isReadOnly());

    // Save As, in the form the name asks for.
    const std::string pem = dir.file("saved.pem");
    ScopedModalHook hook([&](QDialog& dialog) {
        auto* chooser = qobject_cast<QFileDialog*>(&dialog);
        EXPECT_NE(chooser, nullptr);
        if (chooser == nullptr) {
            return static_cast<int>(QDialog::Rejected);
        }
        EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
        chooser->selectFile(QString::fromStdString(pem));
        return static_cast<int>(QDialog::Accepted);
    });
    view->findChild<QPushButton*>(QStringLiteral("saveAsButton"))->click();
    const std::vector<uint8_t> saved = test::TempDir::read(pem);
    EXPECT_EQ(std::string(saved.begin(), saved.end()), opensslOutput(file, {}).toStdString());
    EXPECT_TRUE(view->saveAs(QString::fromStdString(dir.file("copy.cer"))));
    EXPECT_EQ(test::TempDir::read(dir.file("copy.cer")), test::TempDir::read(file));
    view->close();
}

}  // namespace
}  // namespace orvanta
