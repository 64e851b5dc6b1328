#include "app/orvanta_dlg.h"

#include <QAction>
#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/dialog_units.h"
#include "app/modal.h"
#include "app/page_views.h"
#include "app/permission_hint.h"
#include "app/qt_user_prompts.h"
#include "app/udev_monitor.h"

namespace orvanta {

COrvantaDlg::COrvantaDlg(DeviceContext& devices, UserPrompts* prompts, QWidget* parent)
    : QDialog(parent), m_devices(devices) {
    if (prompts == nullptr) {
        m_ownPrompts = std::make_unique<QtUserPrompts>(this);
        prompts = m_ownPrompts.get();
    }
    m_prompts = prompts;

    setWindowTitle(QString::fromUtf8(APP_NAME));
    setWindowIcon(applicationIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);

    m_tab = new QTabWidget(this);
    m_tab->setObjectName(QStringLiteral("tabs"));
    m_tab->setDocumentMode(false);

    m_about = new QAction(QStringLiteral("&About Orvanta..."), this);
    m_about->setShortcut(QKeySequence(Qt::Key_F1));
    m_about->setShortcutContext(Qt::WindowShortcut);
    addAction(m_about);
    connect(m_about, &QAction::triggered, this, &COrvantaDlg::showAbout);
    auto* help = new QToolButton(m_tab);
    help->setObjectName(QStringLiteral("aboutButton"));
    help->setText(QStringLiteral("?"));
    help->setToolTip(QStringLiteral("About Orvanta... (F1)"));
    help->setAutoRaise(true);
    help->setFocusPolicy(Qt::NoFocus);
    connect(help, &QToolButton::clicked, m_about, &QAction::trigger);
    m_tab->setCornerWidget(help, Qt::TopRightCorner);

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("permissionHint"));
    m_hint->setWordWrap(false);
    m_hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hint->setStyleSheet(QStringLiteral("QLabel { color: #a04000; }"));
    m_hint->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(m_tab, 1);
    layout->addWidget(m_hint);

    setFixedSize(dialogUnitsToPixels(*this, 418, 243));
    OnInitDialog();
}

COrvantaDlg::~COrvantaDlg() {
    // The pages observe the models: end the views while the models still exist.
    delete m_tab;
    m_tab = nullptr;
}

void COrvantaDlg::OnInitDialog() {
    m_hardware = new CPageHardInfo(m_hardwareModel);
    m_fido2 = new CPageCertInfo(m_fido2Model, m_devices, *m_prompts);
    m_u2f = new CPageU2FCert(m_u2fModel, m_devices, *m_prompts);
    m_tab->addTab(m_hardware, QStringLiteral("hardware info"));
    m_tab->addTab(m_fido2, QStringLiteral("FIDO2 Certification"));
    m_tab->addTab(m_u2f, QStringLiteral("U2F Certification"));
    m_tab->setCurrentIndex(0);
    ShowDeviceInfo(std::string(), std::string());
}

void COrvantaDlg::ShowDeviceInfo(const std::string& vidText, const std::string& pidText) {
    Pages all = pages();
    orvanta::ShowDeviceInfo(m_devices, all, vidText, pidText);
    updatePermissionHint();
}

void COrvantaDlg::updatePermissionHint() {
    const std::string hint = permissionHint(m_devices.devices().openFailures);
    m_hint->setText(QString::fromStdString(hint));
    m_hint->setToolTip(QString::fromStdString(hint));
    m_hint->setVisible(!hint.empty());
}

bool COrvantaDlg::registerDeviceNotifications() {
    if (m_monitor == nullptr) {
        m_monitor = new UdevMonitor(this);
        connect(m_monitor, &UdevMonitor::deviceChanged, this, &COrvantaDlg::onDeviceEvent);
    }
    return m_monitor->start();
}

int COrvantaDlg::onDeviceEvent(const DeviceEvent& event) {
    qDebug().noquote().nospace() << QString::fromStdString(deviceTraceLine(event));
    return onDeviceChange(
        event, m_devices.clock(),
        [this](const std::string& vid, const std::string& pid) { ShowDeviceInfo(vid, pid); });
}

void COrvantaDlg::showAbout() {
    CAboutDlg about(this);
    about.setWindowIcon(windowIcon());
    execModal(about);
}

void COrvantaDlg::keyPressEvent(QKeyEvent* event) {
    // Enter ends the window as its OK would; Escape (the base class) as Cancel.
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace orvanta
