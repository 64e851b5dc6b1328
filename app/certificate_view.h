#pragma once
// The window's own view of a certificate file, for a desktop without a certificate viewer:
// every field as `openssl x509 -text` shows it, and Save As (DER, PEM or that text).

#include <QDialog>
#include <cstdint>
#include <vector>

class QPlainTextEdit;

namespace orvanta {

class CertificateView : public QDialog {
    Q_OBJECT

  public:
    // path: the certificate file (DER) the page exported.
    explicit CertificateView(const QString& path, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return m_text; }
    // Writes the certificate to path: PEM for ".pem", the text for ".txt", else its DER
    // bytes. False (with the reason) when it cannot be written.
    bool saveAs(const QString& path, QString* error = nullptr) const;

  public slots:
    // Asks for a file and saves there.
    void onSaveAs();

  private:
    QString m_path;
    std::vector<uint8_t> m_der;
    QPlainTextEdit* m_text;
};

// Opens a view of the certificate file beside parent (it closes itself when closed).
CertificateView* showCertificateView(const QString& path, QWidget* parent);

}  // namespace orvanta
