#include "app/qt_user_prompts.h"

#include <QPointer>

#include "app/certificate_view.h"
#include "app/dialog_pin.h"
#include "app/modal.h"
#include "cert/prompt_texts.h"
#include "ctap/secure_wipe.h"

namespace orvanta {

QMessageBox::Icon messageBoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Exclamation:
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

namespace {

// Every box shows its text as it is: a message may carry a key's or a metadata BLOB's
// words, and markup in them must not format the box or load anything.
int runBox(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    return execModal(box);
}

}  // namespace

QtUserPrompts::QtUserPrompts(QWidget* parent, DesktopOpener opener)
    : parent_(parent), opener_(std::move(opener)) {
    if (!opener_) {
        opener_ = [parent](const QString& path, std::function<void()> noHandler) {
            openWithXdgOpen(parent, path, std::move(noHandler));
        };
    }
}

void QtUserPrompts::show(const MessageEvent& message) {
    showMessage(messageText(message), messageIcon(message.code));
}

void QtUserPrompts::showMessage(const std::string& text, MessageIcon icon) {
    QMessageBox box(messageBoxIcon(icon), QString::fromUtf8(APP_NAME), QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    runBox(box);
}

bool QtUserPrompts::confirm(Question question) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(APP_NAME),
                    QString::fromStdString(questionText(question)),
                    QMessageBox::Ok | QMessageBox::Cancel, parent_);
    return runBox(box) == QMessageBox::Ok;
}

bool QtUserPrompts::askPin(std::string& pin) {
    secureWipe(pin);
    CDialogPIN dialog(parent_);
    const bool confirmed = execModal(dialog) == QDialog::Accepted;
    if (confirmed) {
        QByteArray bytes = dialog.pin().toUtf8();
        pin.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
        secureWipe(bytes.data(), static_cast<size_t>(bytes.size()));
    }
    dialog.wipe();
    return confirmed;
}

void QtUserPrompts::openFile(const std::string& path) {
    const QString file = QString::fromStdString(path);
    // Without a certificate viewer on the desktop the certificate would not be seen at all.
    const QPointer<QWidget> parent = parent_;
    const bool owned = parent_ != nullptr;
    opener_(file, [parent, owned, file] {
        if (!owned || !parent.isNull()) {
            showCertificateView(file, parent.data());
        }
    });
}

}  // namespace orvanta
