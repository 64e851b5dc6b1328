#include "app/orvanta_dlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/device_worker.h"
#include "app/dialog_units.h"
#include "app/modal.h"
#include "app/permission_hint.h"
#include "app/qt_user_prompts.h"
#include "app/udev_monitor.h"
#include "common/terminal_text.h"
#include "info/metadata_rows.h"
#include "report/file_write.h"
#include "report/page_report.h"
#include "report/pages.h"
#include "report/status_texts.h"
#include "transport/card_watcher.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

// A button beside the tabs for an action: it shows the action's short text and follows its
// enabled state.
QToolButton* cornerButton(QWidget* parent, const char* name, QAction* action) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);  // the action's shortcut is the keyboard's way
    return button;
}

// "About Orvanta... (F1)"
QString toolTipWithShortcut(const QAction& action) {
    return QString(action.text()).remove(QLatin1Char('&')) + QStringLiteral(" (") +
           action.shortcut().toString(QKeySequence::NativeText) + QStringLiteral(")");
}

}  // namespace

COrvantaDlg::COrvantaDlg(DeviceContext& devices, UserPrompts* prompts, QWidget* parent,
                         const std::string& vidText, const std::string& pidText, StartupJob startup)
    : QDialog(parent), m_devices(devices) {
    if (prompts == nullptr) {
        m_ownPrompts = std::make_unique<QtUserPrompts>(this);
        prompts = m_ownPrompts.get();
    }
    m_prompts = prompts;
    m_workerPrompts = std::make_unique<ForwardedPrompts>(
        *m_prompts,
        [this] {
            m_answerWait->stop();  // the wait is the user's now
            showStatus(QString::fromUtf8(TOUCH_TEXT), true);
        },
        [this](bool asking) { onJobPrompt(asking); });
    m_worker = std::make_unique<DeviceWorker>();
    // Cancel and closing the window end the exchange that runs (a waiting key is sent
    // CTAPHID_CANCEL).
    m_devices.setCancelFlag(&m_cancel);

    setWindowTitle(QString::fromUtf8(APP_NAME));
    setWindowIcon(applicationIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);

    buildKeyChooser();
    buildTabsAndActions();
    buildStatusLineAndHint();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(m_chooserRow);
    layout->addWidget(m_tab, 1);
    layout->addWidget(m_statusLine);
    layout->addWidget(m_hint);
    buildSettleTimer();

    // The design size; the value column takes what the window gains.
    resize(dialogUnitsToPixels(*this, 418, 243));
    setMinimumSize(dialogUnitsToPixels(*this, 240, 140));
    OnInitDialog();
    if (startup) {
        startJob([this, startup = std::move(startup)] { startup(m_devices, *m_workerPrompts); },
                 {});
    }
    // While the start-up work runs, the refresh waits for it.
    ShowDeviceInfo(vidText, pidText);
}

// The row above the tabs for choosing among several keys.
void COrvantaDlg::buildKeyChooser() {
    m_chooserRow = new QWidget(this);
    m_chooserRow->setObjectName(QStringLiteral("keyChooserRow"));
    auto* chooserLabel = new QLabel(QStringLiteral("&Key:"), m_chooserRow);
    m_chooser = new QComboBox(m_chooserRow);
    m_chooser->setObjectName(QStringLiteral("keyChooser"));
    m_chooser->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    chooserLabel->setBuddy(m_chooser);
    m_identify = new QPushButton(QStringLiteral("&Identify"), m_chooserRow);
    m_identify->setObjectName(QStringLiteral("identifyButton"));
    m_identify->setToolTip(QStringLiteral("Makes the chosen key blink"));
    auto* chooserLayout = new QHBoxLayout(m_chooserRow);
    chooserLayout->setContentsMargins(0, 0, 0, 0);
    chooserLayout->addWidget(chooserLabel);
    chooserLayout->addWidget(m_chooser, 1);
    chooserLayout->addWidget(m_identify);
    m_chooserRow->hide();  // one key: the window as it always looked
    connect(m_chooser, &QComboBox::activated, this, &COrvantaDlg::chooseKey);
    connect(m_identify, &QPushButton::clicked, this, &COrvantaDlg::identify);
}

// The tabs, with the About and Save report actions beside them.
void COrvantaDlg::buildTabsAndActions() {
    m_tab = new QTabWidget(this);
    m_tab->setObjectName(QStringLiteral("tabs"));
    m_tab->setDocumentMode(false);

    m_about = new QAction(QStringLiteral("&About Orvanta..."), this);
    m_about->setShortcut(QKeySequence(Qt::Key_F1));
    m_about->setShortcutContext(Qt::WindowShortcut);
    addAction(m_about);
    connect(m_about, &QAction::triggered, this, &COrvantaDlg::showAbout);
    m_saveReport = new QAction(QString::fromUtf8("&Save report…"), this);
    m_saveReport->setShortcut(QKeySequence::Save);
    m_saveReport->setShortcutContext(Qt::WindowShortcut);
    addAction(m_saveReport);
    connect(m_saveReport, &QAction::triggered, this, &COrvantaDlg::onSaveReport);
    m_about->setIconText(QStringLiteral("?"));
    m_about->setToolTip(toolTipWithShortcut(*m_about));
    m_saveReport->setIconText(QString::fromUtf8("Save report…"));
    m_saveReport->setToolTip(toolTipWithShortcut(*m_saveReport));
    auto* corner = new QWidget(m_tab);
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    cornerLayout->setSpacing(0);
    cornerLayout->addWidget(cornerButton(corner, "saveReportButton", m_saveReport));
    cornerLayout->addWidget(cornerButton(corner, "aboutButton", m_about));
    m_tab->setCornerWidget(corner, Qt::TopRightCorner);
}

// What a running job shows (with its Cancel), and the hint about keys that cannot be
// opened.
void COrvantaDlg::buildStatusLineAndHint() {
    m_statusLine = new QWidget(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLabel = new QLabel(m_statusLine);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);  // it names keys as they name themselves
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), m_statusLine);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto* statusLayout = new QHBoxLayout(m_statusLine);
    statusLayout->setContentsMargins(2, 0, 0, 0);
    statusLayout->addWidget(m_statusLabel, 1);
    statusLayout->addWidget(m_cancelButton);
    m_statusLine->hide();
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        m_cancel.store(true);
        m_cancelButton->setEnabled(false);
    });

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("permissionHint"));
    m_hint->setWordWrap(false);
    m_hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hint->setStyleSheet(QStringLiteral("QLabel { color: #a04000; }"));
    m_hint->hide();
}

// The wait after a device event, before the refresh.
void COrvantaDlg::buildSettleTimer() {
    m_settle = new QTimer(this);
    m_settle->setObjectName(QStringLiteral("settleTimer"));
    m_settle->setSingleShot(true);
    m_settle->setInterval(static_cast<int>(DEVICE_SETTLE_MS));
    connect(m_settle, &QTimer::timeout, this,
            [this] { ShowDeviceInfo(m_settleEvent.vendorId, m_settleEvent.productId); });

    m_answerWait = new QTimer(this);
    m_answerWait->setObjectName(QStringLiteral("answerTimer"));
    m_answerWait->setSingleShot(true);
    m_answerWait->setInterval(KEY_SILENT_NOTICE_MS);
    connect(m_answerWait, &QTimer::timeout, this, [this] {
        if (isBusy()) {
            showStatus(QString::fromUtf8(KEY_SILENT_TEXT), true);
        }
    });
}

bool COrvantaDlg::endDeviceWork(std::chrono::milliseconds limit) {
    // No card event is posted once the watcher has stopped.
    m_cardWatcher.reset();
    // Its exchange is cancelled, its questions go unanswered.
    m_cancel.store(true);
    m_workerPrompts->abandon();
    return m_worker->stop(limit);
}

COrvantaDlg::~COrvantaDlg() {
    // The running job ends first.
    m_cardWatcher.reset();
    m_cancel.store(true);
    m_workerPrompts->abandon();
    m_worker->stop();
    m_devices.setCancelFlag(nullptr);
    // The pages observe the models: end the views while the models still exist.
    delete m_tab;
    m_tab = nullptr;
}

void COrvantaDlg::OnInitDialog() {
    for (const report::PageDefinition& page : report::pageList()) {
        m_pageTabs.push_back(new PageTab(page, pages(), *this));
        m_tab->addTab(m_pageTabs.back(), QString::fromUtf8(page.title));
    }
    m_conformanceTab = new ConformanceTab(*this);
    m_conformanceTab->setObjectName(QStringLiteral("conformanceTab"));
    m_tab->addTab(m_conformanceTab, QStringLiteral("Conformance"));
    m_tab->setCurrentIndex(0);
    setTabOrder(m_chooser, m_identify);
    setTabOrder(m_identify, m_tab);
    QWidget* previous = m_tab;
    for (PageTab* tab : m_pageTabs) {
        setTabOrder(previous, tab);
        previous = tab;
    }
    setTabOrder(previous, m_conformanceTab);
    setTabOrder(m_conformanceTab, m_cancelButton);
    updateActions();
}

bool COrvantaDlg::runConformanceJob(bool touch, std::function<void(CheckResult)> onResult,
                                    std::function<void(ConformanceReport)> onEnd) {
    if (isBusy()) {
        return false;
    }
    return startJob(
        [this, touch, onResult = std::move(onResult)] {
            ConformanceOptions options;
            options.touch = touch;
            options.cancelled = [this] { return m_cancel.load(); };
            options.progress = [this, onResult](size_t, size_t, const CheckResult& result) {
                QMetaObject::invokeMethod(
                    this, [onResult, result] { onResult(result); }, Qt::QueuedConnection);
            };
            options.touchNeeded = [this] { m_workerPrompts->touchNeeded(); };
            m_conformanceReport = runConformance(m_devices.session(), options);
        },
        [this, onEnd = std::move(onEnd)] { onEnd(std::move(m_conformanceReport)); });
}

void COrvantaDlg::cancelConformanceJob() {
    m_cancel.store(true);
}

bool COrvantaDlg::isBusy() const {
    return m_worker->busy();
}

bool COrvantaDlg::runDeviceJob(Job job) {
    if (isBusy()) {
        QApplication::beep();  // one device job at a time
        return false;
    }
    m_fetchResult.reset();
    m_fetchEnd.clear();
    return startJob(
        [this, job = std::move(job)] {
            m_fetchResult = job(m_devices, *m_workerPrompts);
            if (m_fetchResult) {
                m_fetchEnd = report::fetchEndText(*m_fetchResult, m_devices.session().device());
            }
        },
        [this] {
            // Whatever a fetch showed or asked, the status line says why it showed no
            // certificates (a cancel included, which shows no message).
            if (!m_fetchEnd.empty()) {
                showStatus(m_fetchEnd, false);
            }
        });
}

bool COrvantaDlg::startJob(std::function<void()> job, std::function<void()> done) {
    m_cancel.store(false);
    m_statusLine->hide();
    m_cancelButton->setEnabled(true);
    const bool started = m_worker->run(std::move(job), [this, done = std::move(done)] {
        m_answerWait->stop();
        m_statusLine->hide();
        if (done) {
            done();
        }
        showMetadataWarning();
        jobEnded();
    });
    if (started) {
        m_answerWait->start();
    }
    updateActions();
    return started;
}

void COrvantaDlg::onJobPrompt(bool asking) {
    // While a question is up the job waits for the user; the key's wait starts again after.
    if (asking) {
        m_answerWait->stop();
    } else if (isBusy()) {
        m_answerWait->start();
    }
}

void COrvantaDlg::showMetadataWarning() {
    for (const report::PageDefinition& page : report::pageList()) {
        const std::string warning = metadataWarning(page.model(pages()));
        if (!warning.empty() && warning != m_shownMetadataWarning) {
            m_shownMetadataWarning = warning;
            m_prompts->showMessage(warning, MessageIcon::Exclamation);
            return;
        }
    }
}

void COrvantaDlg::jobEnded() {
    if (m_pendingRefresh) {
        // A device event or a choice came while the job ran.
        auto [vid, pid] = *m_pendingRefresh;
        m_pendingRefresh.reset();
        ShowDeviceInfo(vid, pid);
        return;
    }
    updateActions();
}

void COrvantaDlg::ShowDeviceInfo(const std::string& vidText, const std::string& pidText) {
    if (isBusy()) {
        m_pendingRefresh = std::make_pair(vidText, pidText);
        return;
    }
    const std::string preferred = m_chosenPath;
    startJob(
        [this, vidText, pidText, preferred] {
            m_devices.setPreferredPath(preferred);
            report::refreshPages(m_devices, pages(), vidText, pidText);
            const DeviceSession& session = m_devices.session();
            RefreshOutcome outcome;
            outcome.keys = acceptedKeys(m_devices.devices());
            if (session.present()) {
                outcome.shownPath = session.device().path;
            }
            outcome.canWink = session.initFacts() &&
                              (session.initFacts()->capabilities & CTAPHID_CAPABILITY_WINK) != 0;
            outcome.openFailures = m_devices.devices().openFailures;
            const DeviceContext::Facts& facts = m_devices.facts();
            if (session.present() && facts.transportFailed) {
                // Without an INIT reply the key never said a word.
                outcome.problem = facts.init ? report::keyStoppedAnsweringText(session.device())
                                             : report::keyDoesNotAnswerText(session.device());
            }
            m_outcome = std::move(outcome);
        },
        [this] { applyRefresh(); });
}

void COrvantaDlg::applyRefresh() {
    m_keys = std::move(m_outcome.keys);
    m_keyShown = !m_outcome.shownPath.empty();
    m_canWink = m_outcome.canWink;
    // Only a key chosen in the chooser is kept over device events, and only while it is listed;
    // else each event shows the key it names.
    if (!m_pendingRefresh &&
        std::none_of(m_keys.begin(), m_keys.end(),
                     [this](const KeyEntry& key) { return key.path == m_chosenPath; })) {
        m_chosenPath.clear();
    }
    m_chooser->clear();
    for (size_t i = 0; i < m_keys.size(); ++i) {
        m_chooser->addItem(QString::fromStdString(terminalSafe(keyChoiceText(m_keys[i]))));
        if (m_keys[i].path == m_outcome.shownPath) {
            m_chooser->setCurrentIndex(static_cast<int>(i));
        }
    }
    m_chooserRow->setVisible(m_keys.size() > 1);

    const std::string hint = permissionHint(m_outcome.openFailures);
    m_hint->setText(QString::fromStdString(hint));
    m_hint->setToolTip(QString::fromStdString(hint));
    m_hint->setVisible(!hint.empty());

    if (!m_outcome.problem.empty()) {
        showStatus(m_outcome.problem, false);
    } else if (m_keys.empty() && m_outcome.openFailures.empty()) {
        showStatus(QString::fromUtf8(NO_KEY_TEXT), false);
    }
}

void COrvantaDlg::chooseKey(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_keys.size()) {
        return;
    }
    m_chosenPath = m_keys[static_cast<size_t>(index)].path;
    ShowDeviceInfo(std::string(), std::string());
}

void COrvantaDlg::identify() {
    startJob(
        [this] {
            QuickExchanges quick(m_devices.session());
            m_winkAnswered = exchange(m_devices.session(), CTAPHID_WINK, {}).ok();
        },
        [this] {
            if (!m_winkAnswered) {
                showStatus(QString::fromUtf8(IDENTIFY_FAILED_TEXT), false);
            }
        });
}

void COrvantaDlg::showStatus(const QString& text, bool cancellable) {
    m_statusLabel->setText(text);
    m_cancelButton->setVisible(cancellable);
    m_statusLine->show();
}

void COrvantaDlg::updateActions() {
    const bool idle = !isBusy();
    m_saveReport->setEnabled(idle && m_keyShown);
    m_identify->setEnabled(idle && m_canWink);
}

bool COrvantaDlg::saveReport(const QString& path, ReportFormat format, QString* error) {
    auto fail = [error](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    if (isBusy()) {
        return fail(QStringLiteral("the key is still being read"));
    }
    const DeviceRecord& device = m_devices.session().device();
    const std::vector<report::PageView> pages =
        report::pageViews(report::pagesFor("all"), device, m_devices.facts(), m_models.pages());
    std::string text;
    if (format == ReportFormat::Json) {
        std::optional<std::string> problem;
        if (m_devices.facts().transportFailed) {
            // As the command line says it: rows are missing because the key stopped talking.
            problem = report::keyStoppedAnsweringText(device);
        }
        text = report::reportJson(pages, problem);
    } else {
        text = report::reportText(pages);
    }
    // A regular file is written whole or not at all; a device or a FIFO stays what it is.
    if (const std::error_code error = writeWholeFile(path.toStdString(), text)) {
        return fail(QString::fromStdString(error.message()));
    }
    return true;
}

void COrvantaDlg::onSaveReport() {
    if (!m_saveReport->isEnabled()) {
        return;
    }
    const QString textFilter = QStringLiteral("Text report (*.txt)");
    const QString jsonFilter = QStringLiteral("JSON report (*.json)");
    QFileDialog dialog(this, QStringLiteral("Save report"),
                       QDir::home().filePath(QStringLiteral("orvanta-report.txt")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({textFilter, jsonFilter});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog, jsonFilter](const QString& f) {
                dialog.setDefaultSuffix(f == jsonFilter ? QStringLiteral("json")
                                                        : QStringLiteral("txt"));
            });
    if (execModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ||
                      (!path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive) &&
                       dialog.selectedNameFilter() == jsonFilter);
    QString error;
    if (!saveReport(path, json ? ReportFormat::Json : ReportFormat::Text, &error)) {
        m_prompts->showMessage(terminalSafe(("Cannot write " + path + ": " + error).toStdString()),
                               MessageIcon::Error);
    }
}

bool COrvantaDlg::registerDeviceNotifications() {
    if (m_monitor == nullptr) {
        m_monitor = new UdevMonitor(this);
        connect(m_monitor, &UdevMonitor::deviceChanged, this, &COrvantaDlg::onDeviceEvent);
    }
    return m_monitor->start();
}

void COrvantaDlg::watchCards() {
    if (m_cardWatcher) {
        return;
    }
    m_cardWatcher = std::make_unique<CardWatcher>([this](const CardEvent& card) {
        // On the watcher's thread: the window's thread handles it.
        DeviceEvent event;
        event.code = card.kind == CardEvent::Kind::Inserted ? DeviceChange::Arrival
                                                            : DeviceChange::RemoveComplete;
        QMetaObject::invokeMethod(
            this, [this, event] { onDeviceEvent(event); }, Qt::QueuedConnection);
    });
    m_cardWatcher->start();
}

int COrvantaDlg::onDeviceEvent(const DeviceEvent& event) {
    qDebug().noquote().nospace() << QString::fromStdString(deviceTraceLine(event));
    if (!refreshesPages(event)) {
        return 0;
    }
    // Give the system time to set up (or tear down) the device's HID nodes; the window
    // stays responsive meanwhile.
    m_settleEvent = event;
    m_settle->start();
    return 1;
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
