#pragma once
// The PIN entry dialog: a label, a masked field, OK and Cancel.

#include <QDialog>
#include <QString>

class QLineEdit;

namespace orvanta {

class CDialogPIN : public QDialog {
    Q_OBJECT

  public:
    explicit CDialogPIN(QWidget* parent = nullptr);
    ~CDialogPIN() override;

    // What OK took from the field; empty after Cancel.
    const QString& pin() const { return m_pin; }
    // Overwrites the PIN text (as far as Qt's copies allow) and empties it.
    void wipe();
    QLineEdit* edit() const { return m_edit; }

  public slots:
    void onOk();
    void onCancel();

  private:
    QLineEdit* m_edit;
    QString m_pin;
};

// Overwrites the characters of a string that no other QString shares, then empties it.
void wipeQString(QString& text);

}  // namespace orvanta
