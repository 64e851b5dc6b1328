#include "app/conformance_tab.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace orvanta {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

ConformanceTab::ConformanceTab(ConformanceWork& work, QWidget* parent)
    : QWidget(parent), m_work(work) {
    m_run = new QPushButton(QStringLiteral("&Run checks"), this);
    m_run->setObjectName(QStringLiteral("runChecksButton"));
    m_touch = new QCheckBox(QStringLiteral("Include checks that need a &touch"), this);
    m_touch->setObjectName(QStringLiteral("touchChecksBox"));
    m_touch->setToolTip(
        QStringLiteral("Registrations the key does not keep, one per algorithm it lists"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("checkProgress"));
    m_progress->setRange(0, static_cast<int>(conformanceChecks().size()));
    m_progress->setValue(0);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelChecksButton"));
    m_cancel->setEnabled(false);
    m_summary = new QLabel(
        QStringLiteral("Checks how the key follows CTAPHID, CTAP 2.1 / 2.2 and U2F. Nothing on "
                       "the key is changed."),
        this);
    m_summary->setObjectName(QStringLiteral("checkSummary"));
    m_summary->setWordWrap(true);
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("checkTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Section"),
                                        QStringLiteral("Result"), QStringLiteral("Detail")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_run);
    controls->addWidget(m_touch);
    controls->addWidget(m_progress, 1);
    controls->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 1);

    connect(m_run, &QPushButton::clicked, this, &ConformanceTab::run);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancel->setEnabled(false);
        m_work.cancelConformanceJob();
    });
}

void ConformanceTab::run() {
    if (m_running) {
        return;
    }
    const bool started = m_work.runConformanceJob(
        m_touch->isChecked(), [this](CheckResult result) { addResult(result); },
        [this](ConformanceReport report) { finished(report); });
    if (!started) {
        m_summary->setText(QStringLiteral("Other work with the key is running; try again."));
        return;
    }
    m_running = true;
    m_table->setRowCount(0);
    m_progress->setValue(0);
    m_summary->setText(QStringLiteral("Checking…"));
    m_run->setEnabled(false);
    m_touch->setEnabled(false);
    m_cancel->setEnabled(true);
}

void ConformanceTab::addResult(const CheckResult& result) {
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, 0, new QTableWidgetItem(text(result.check->rule)));
    m_table->setItem(row, 1, new QTableWidgetItem(text(result.check->section)));
    m_table->setItem(row, 2, new QTableWidgetItem(text(verdictName(result.verdict))));
    auto* detail = new QTableWidgetItem(text(result.detail));
    detail->setToolTip(text(result.detail));
    m_table->setItem(row, 3, detail);
    m_progress->setValue(row + 1);
}

void ConformanceTab::finished(const ConformanceReport& report) {
    m_running = false;
    m_run->setEnabled(true);
    m_touch->setEnabled(true);
    m_cancel->setEnabled(false);
    QString line;
    if (report.reach == KeyReach::NoKey) {
        line = QStringLiteral("No security key to check.");
    } else if (report.reach == KeyReach::Silent) {
        line = QStringLiteral("The key does not answer: every check is skipped.");
    } else {
        line = QStringLiteral("%1 passed, %2 failed, %3 skipped")
                   .arg(report.count(Verdict::Pass))
                   .arg(report.count(Verdict::Fail))
                   .arg(report.count(Verdict::Skip));
        if (report.cancelled) {
            line += QStringLiteral(" (cancelled)");
        }
        line += QLatin1Char('.');
    }
    m_summary->setText(line);
}

}  // namespace orvanta
