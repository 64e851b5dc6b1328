#pragma once
// The About box.

#include <QDialog>

namespace orvanta {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orvanta
