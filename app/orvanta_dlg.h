#pragma once
// The main window: a dialog whose tab control holds the pages of the page list and the
// conformance check, with the About
// entry, the report, the hint for keys that cannot be opened, and the refresh after every USB
// arrival or removal. Every exchange with a key runs on the window's device worker, so the
// window keeps answering while a key waits for a touch; a line below the tabs then says so
// and offers Cancel. The same line says when a key is slow to answer or does not answer,
// why a fetch ended without certificates, and that no key is attached. With several keys
// attached (cards in PC/SC readers among them), a chooser above the tabs picks the one the
// pages show.

#include <QDialog>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/conformance_tab.h"
#include "app/device_event.h"
#include "app/key_chooser.h"
#include "app/page_views.h"
#include "ctap/user_prompts.h"
#include "info/device_refresh.h"
#include "info/page_model.h"

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;

namespace orvanta {

class CardWatcher;
class DeviceWorker;
class ForwardedPrompts;
class UdevMonitor;

inline constexpr const char* TOUCH_TEXT = "Touch your security key…";
inline constexpr const char* IDENTIFY_FAILED_TEXT = "The key did not answer the identify request.";
inline constexpr const char* KEY_SILENT_TEXT = "The key does not answer yet; waiting for it…";
inline constexpr const char* NO_KEY_TEXT = "No security key found: plug one in";
// How long device work may go without a touch asked for or a question shown before the
// status line says the key does not answer yet: a key answers within milliseconds.
inline constexpr int KEY_SILENT_NOTICE_MS = 1500;

enum class ReportFormat { Text, Json };

// Work the window runs on its worker before its first refresh (the metadata BLOB is read
// and checked there, so a large or slow file never holds up the window's thread); what it
// says goes through the prompts it is given, shown by the window.
using StartupJob = std::function<void(DeviceContext& devices, UserPrompts& prompts)>;

class COrvantaDlg : public QDialog, private DeviceWork, private ConformanceWork {
    Q_OBJECT

  public:
    // devices: the keys the window looks at (the window's worker uses it from now on).
    // prompts: who answers the pages' questions; null for the window's own message boxes.
    // vidText, pidText: the key to show first (empty: the first attached key).
    // startup: runs on the worker before the first refresh.
    explicit COrvantaDlg(DeviceContext& devices, UserPrompts* prompts = nullptr,
                         QWidget* parent = nullptr, const std::string& vidText = std::string(),
                         const std::string& pidText = std::string(), StartupJob startup = {});
    ~COrvantaDlg() override;

    // Rebuilds every page on the worker for the given vendor and product (empty: the
    // first key; a key chosen in the chooser wins while it is attached), then updates the
    // chooser and the hint about keys that cannot be opened. While other device work runs,
    // the refresh waits for it (the latest request counts).
    void ShowDeviceInfo(const std::string& vidText, const std::string& pidText);
    // Listens to USB arrivals and removals; false when udev cannot be reached.
    bool registerDeviceNotifications();
    // Follows cards going into and out of PC/SC readers (a thread waits on pcscd, and waits
    // for it to start when it does not run); each insertion or removal is handled as a USB
    // arrival or removal of a key without IDs.
    void watchCards();

    // Writes every page as text or as the JSON document of `orvanta-cli --json all`.
    // False (with the reason) when it cannot be written or device work is running.
    bool saveReport(const QString& path, ReportFormat format, QString* error = nullptr);

    // Device work is running (the pages belong to the worker until it ends).
    bool isBusy() const;
    // The window has closed: the card watcher stops, the running job is cancelled (its
    // questions go unanswered) and waited for up to limit. False when it has not ended: it
    // is stuck in a call nothing can end, and the window must not be destroyed under it.
    bool endDeviceWork(std::chrono::milliseconds limit);

    QTabWidget* tabs() const { return m_tab; }
    ConformanceTab* conformanceTab() const { return m_conformanceTab; }
    QLabel* permissionHintLabel() const { return m_hint; }
    QAction* aboutAction() const { return m_about; }
    QAction* saveReportAction() const { return m_saveReport; }
    QComboBox* keyChooser() const { return m_chooser; }
    QWidget* keyChooserRow() const { return m_chooserRow; }
    QPushButton* identifyButton() const { return m_identify; }
    QWidget* statusLine() const { return m_statusLine; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    QTimer* settleTimer() const { return m_settle; }
    // Runs while device work waits for the key (not for the user).
    QTimer* answerTimer() const { return m_answerWait; }
    // The models; read them only while the window is not busy.
    Pages pages() { return m_models.pages(); }
    DeviceContext& devices() { return m_devices; }

  public slots:
    // One USB arrival or removal (or any other device message): trace now, refresh
    // DEVICE_SETTLE_MS later (a later event starts the wait again). Returns 1 for an
    // arrival or removal, else 0.
    int onDeviceEvent(const orvanta::DeviceEvent& event);
    void showAbout();
    // Asks for a file and writes the report there.
    void onSaveReport();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnInitDialog();
    void buildKeyChooser();
    void buildTabsAndActions();
    void buildStatusLineAndHint();
    void buildSettleTimer();
    bool runDeviceJob(Job job) override;
    bool runConformanceJob(bool touch, std::function<void(CheckResult)> onResult,
                           std::function<void(ConformanceReport)> onEnd) override;
    void cancelConformanceJob() override;
    bool startJob(std::function<void()> job, std::function<void()> done);
    void jobEnded();
    void applyRefresh();
    void chooseKey(int index);
    void identify();
    void showStatus(const QString& text, bool cancellable);
    void showStatus(const std::string& text, bool cancellable) {
        showStatus(QString::fromStdString(text), cancellable);
    }
    // A prompt of the running job opens (asking) or has been answered.
    void onJobPrompt(bool asking);
    void updateActions();

    DeviceContext& m_devices;
    // The models outlive the views (the tab control is deleted first).
    // Warns once about a key the metadata BLOB reports as revoked or compromised.
    void showMetadataWarning();
    std::string m_shownMetadataWarning;
    PageModels m_models;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts* m_prompts;
    std::unique_ptr<ForwardedPrompts> m_workerPrompts;
    std::unique_ptr<DeviceWorker> m_worker;
    std::atomic<bool> m_cancel{false};

    // What the last refresh found, handed from the worker to the window's thread.
    struct RefreshOutcome {
        std::vector<KeyEntry> keys;
        std::string shownPath;  // empty: no key shown
        bool canWink = false;
        std::vector<OpenFailure> openFailures;
        std::string problem;  // the shown key does not answer, or stopped answering
    };
    RefreshOutcome m_outcome;
    std::vector<KeyEntry> m_keys;
    std::string m_chosenPath;  // the key chosen in the chooser; empty: none chosen
    bool m_keyShown = false;
    bool m_canWink = false;
    bool m_winkAnswered = false;
    std::optional<FetchResult> m_fetchResult;  // of the last row job
    std::string m_fetchEnd;                    // why it showed no certificates
    std::optional<std::pair<std::string, std::string>> m_pendingRefresh;
    DeviceEvent m_settleEvent;

    QWidget* m_chooserRow = nullptr;
    QComboBox* m_chooser = nullptr;
    QPushButton* m_identify = nullptr;
    QTabWidget* m_tab = nullptr;
    std::vector<PageTab*> m_pageTabs;  // in the page list's order
    ConformanceTab* m_conformanceTab = nullptr;
    ConformanceReport m_conformanceReport;  // of the last check, handed to the window's thread
    QWidget* m_statusLine = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_hint = nullptr;
    QAction* m_about = nullptr;
    QAction* m_saveReport = nullptr;
    QTimer* m_settle = nullptr;
    QTimer* m_answerWait = nullptr;
    UdevMonitor* m_monitor = nullptr;
    std::unique_ptr<CardWatcher> m_cardWatcher;
};

}  // namespace orvanta
