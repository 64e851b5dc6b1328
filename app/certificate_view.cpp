#include "app/certificate_view.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "app/dialog_units.h"
#include "app/modal.h"
#include "cert/certificate_text.h"
#include "ctap/user_prompts.h"
#include "report/file_write.h"

namespace orvanta {

namespace {

// A certificate file is small; anything much larger is not one.
constexpr qint64 MAX_CERTIFICATE_FILE = 1 << 20;

std::vector<uint8_t> readCertificateFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MAX_CERTIFICATE_FILE) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

CertificateView::CertificateView(const QString& path, QWidget* parent)
    : QDialog(parent), m_path(path), m_der(readCertificateFile(path)) {
    setObjectName(QStringLiteral("certificateView"));
    setWindowTitle(QStringLiteral("Certificate %1 - %2")
                       .arg(QFileInfo(path).fileName(), QString::fromUtf8(APP_NAME)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setSizeGripEnabled(true);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("certificateText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const std::optional<std::string> text = certificateText(m_der);
    m_text->setPlainText(
        text ? QString::fromStdString(*text)
             : QStringLiteral("%1 does not hold a certificate that can be decoded.").arg(path));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* save =
        buttons->addButton(QStringLiteral("Save &As…"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("saveAsButton"));
    save->setEnabled(!m_der.empty());
    connect(save, &QPushButton::clicked, this, &CertificateView::onSaveAs);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);
    resize(dialogUnitsToPixels(*this, 380, 300));
}

bool CertificateView::saveAs(const QString& path, QString* error) const {
    auto fail = [error](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    std::string data(m_der.begin(), m_der.end());
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("pem") || suffix == QStringLiteral("txt")) {
        const std::optional<std::string> converted =
            suffix == QStringLiteral("pem") ? certificatePem(m_der) : certificateText(m_der);
        if (!converted) {
            return fail(QStringLiteral("the certificate cannot be decoded"));
        }
        data = *converted;
    }
    // A regular file is replaced whole or not at all; a device or FIFO is written in place.
    if (const std::error_code error = writeWholeFile(path.toStdString(), data)) {
        return fail(QString::fromStdString(error.message()));
    }
    return true;
}

void CertificateView::onSaveAs() {
    const QString derFilter = QStringLiteral("Certificate (*.cer *.der)");
    const QString pemFilter = QStringLiteral("PEM certificate (*.pem)");
    const QString textFilter = QStringLiteral("Certificate text (*.txt)");
    QFileDialog dialog(this, QStringLiteral("Save certificate"),
                       QDir::home().filePath(QStringLiteral("certificate.cer")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({derFilter, pemFilter, textFilter});
    dialog.setDefaultSuffix(QStringLiteral("cer"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog, pemFilter, textFilter](const QString& filter) {
                dialog.setDefaultSuffix(filter == pemFilter    ? QStringLiteral("pem")
                                        : filter == textFilter ? QStringLiteral("txt")
                                                               : QStringLiteral("cer"));
            });
    if (execModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    QString error;
    const QString path = dialog.selectedFiles().constFirst();
    if (!saveAs(path, &error)) {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8(APP_NAME),
                        QStringLiteral("Cannot write %1: %2").arg(path, error), QMessageBox::Ok,
                        this);
        box.setTextFormat(Qt::PlainText);
        execModal(box);
    }
}

CertificateView* showCertificateView(const QString& path, QWidget* parent) {
    auto* view = new CertificateView(path, parent);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
    view->raise();
    view->activateWindow();
    return view;
}

}  // namespace orvanta
