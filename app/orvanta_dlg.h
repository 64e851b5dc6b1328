#pragma once
// The main window: a fixed-size dialog whose tab control holds the three pages, with the
// About entry, the hint for keys that cannot be opened, and the refresh after every USB
// arrival or removal.

#include <QDialog>
#include <memory>
#include <string>

#include "app/device_event.h"
#include "ctap/user_prompts.h"
#include "info/device_refresh.h"
#include "info/page_model.h"

class QAction;
class QLabel;
class QTabWidget;

namespace orvanta {

class CPageHardInfo;
class CPageCertInfo;
class CPageU2FCert;
class UdevMonitor;

class COrvantaDlg : public QDialog {
    Q_OBJECT

  public:
    // devices: the keys the window looks at. prompts: who answers the pages' questions;
    // null for the window's own message boxes.
    explicit COrvantaDlg(DeviceContext& devices, UserPrompts* prompts = nullptr,
                         QWidget* parent = nullptr);
    ~COrvantaDlg() override;

    // Rebuilds all three pages for the given vendor and product (empty: the first key),
    // then shows or hides the hint about keys that cannot be opened.
    void ShowDeviceInfo(const std::string& vidText, const std::string& pidText);
    // Listens to USB arrivals and removals; false when udev cannot be reached.
    bool registerDeviceNotifications();

    QTabWidget* tabs() const { return m_tab; }
    QLabel* permissionHintLabel() const { return m_hint; }
    QAction* aboutAction() const { return m_about; }
    Pages pages() { return Pages{m_hardwareModel, m_fido2Model, m_u2fModel}; }
    DeviceContext& devices() { return m_devices; }

  public slots:
    // One USB arrival or removal (or any other device message): trace, wait, refresh.
    int onDeviceEvent(const orvanta::DeviceEvent& event);
    void showAbout();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnInitDialog();
    void updatePermissionHint();

    DeviceContext& m_devices;
    // The models outlive the views (the tab control is deleted first).
    HardInfoPage m_hardwareModel;
    Fido2CertPage m_fido2Model;
    U2fCertPage m_u2fModel;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts* m_prompts;

    QTabWidget* m_tab = nullptr;
    CPageHardInfo* m_hardware = nullptr;
    CPageCertInfo* m_fido2 = nullptr;
    CPageU2FCert* m_u2f = nullptr;
    QLabel* m_hint = nullptr;
    QAction* m_about = nullptr;
    UdevMonitor* m_monitor = nullptr;
};

}  // namespace orvanta
