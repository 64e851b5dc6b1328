#pragma once
// The "Conformance" tab: runs the conformance check of the shown key on demand, on the
// window's device worker, one row per check as it ends (the rule, its section, PASS, FAIL
// or SKIP, and what the key answered or why it was skipped), with progress and Cancel.

#include <QWidget>
#include <functional>

#include "check/conformance.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace orvanta {

// Where the tab's check runs: the window's device worker.
class ConformanceWork {
  public:
    virtual ~ConformanceWork() = default;
    // Starts the check; each result and then the end are handed over on the window's
    // thread. False when other device work still runs.
    virtual bool runConformanceJob(bool touch, std::function<void(CheckResult)> onResult,
                                   std::function<void(ConformanceReport)> onEnd) = 0;
    // Ends the running check: the exchange that waits is cancelled, later checks are skipped.
    virtual void cancelConformanceJob() = 0;
};

class ConformanceTab : public QWidget {
    Q_OBJECT

  public:
    explicit ConformanceTab(ConformanceWork& work, QWidget* parent = nullptr);

    QPushButton* runButton() const { return m_run; }
    QPushButton* cancelButton() const { return m_cancel; }
    QCheckBox* touchBox() const { return m_touch; }
    QProgressBar* progress() const { return m_progress; }
    QLabel* summary() const { return m_summary; }
    QTableWidget* table() const { return m_table; }
    bool running() const { return m_running; }

    // Starts a run (as the Run button does).
    void run();

  private:
    void addResult(const CheckResult& result);
    void finished(const ConformanceReport& report);

    ConformanceWork& m_work;
    QPushButton* m_run = nullptr;
    QCheckBox* m_touch = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
    bool m_running = false;
};

}  // namespace orvanta
