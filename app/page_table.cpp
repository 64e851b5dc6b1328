#include "app/page_table.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTextDocument>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "common/terminal_text.h"
#include "report/page_report.h"

namespace orvanta {

PageTable::PageTable(PageModel& model, std::string title, int itemWidth, QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_title(std::move(title)),
      m_list(new QTableWidget(0, 2, this)),
      m_itemWidth(itemWidth) {
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Item"), QStringLiteral("Value")});
    m_list->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setColumnWidth(0, itemWidth);
    // The values take what the labels leave, so a wider window widens them; a value column
    // wider than the table would scroll the labels away (Ctrl+End goes to the last column).
    m_list->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_list->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setTabKeyNavigation(false);  // Tab leaves the table for the next control
    m_list->installEventFilter(this);

    m_copyValue = new QAction(QStringLiteral("Copy &value"), this);
    m_copyRow = new QAction(QStringLiteral("Copy &row"), this);
    m_copyRow->setShortcut(QKeySequence::Copy);
    m_copyRow->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_copyPage = new QAction(QStringLiteral("Copy &page"), this);
    m_list->addAction(m_copyRow);
    auto copy = [](const QString& text) { QGuiApplication::clipboard()->setText(text); };
    connect(m_copyValue, &QAction::triggered, this, [this, copy] { copy(valueText()); });
    connect(m_copyRow, &QAction::triggered, this, [this, copy] { copy(rowsText()); });
    connect(m_copyPage, &QAction::triggered, this, [this, copy] { copy(pageText()); });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &PageTable::showContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    setFocusProxy(m_list);

    connect(m_list, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { onRowDoubleClicked(row); });
    m_model.setObserver([this] {
        if (QThread::currentThread() == thread()) {
            show(m_model.rows());
            return;
        }
        // The worker changes the model: its rows as they are now go to the window's
        // thread, queued behind the earlier changes.
        QMetaObject::invokeMethod(
            this, [this, rows = m_model.rows()]() mutable { show(std::move(rows)); },
            Qt::QueuedConnection);
    });
    show(m_model.rows());
}

PageTable::~PageTable() {
    m_model.setObserver(nullptr);
}

void PageTable::show(std::vector<Row> rows) {
    m_rows = std::move(rows);
    m_list->setRowCount(static_cast<int>(m_rows.size()));
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        const Row& row = m_rows[static_cast<size_t>(i)];
        // Long texts (keys, Base64, getInfo lines) are cut at the column's edge; the tool
        // tip shows them whole, unless the row has a tip of its own.
        for (int column = 0; column < 2; ++column) {
            const std::string& raw = column == 0 ? row.label : row.valueText();
            const QString text = QString::fromStdString(raw);
            auto* item = new QTableWidgetItem(text);
            // A cell shows control characters harmlessly; a tool tip is laid out as text (or
            // as rich text when it looks like markup), so it gets the cleaned, plain form.
            // A row that says why it reads as it does (an empty value, say) says so on both
            // of its cells.
            QString tip = QString::fromStdString(terminalSafe(row.tip.empty() ? raw : row.tip));
            if (Qt::mightBeRichText(tip)) {
                tip = QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() +
                      QStringLiteral("</p>");
            }
            item->setToolTip(text.trimmed().isEmpty() && row.tip.empty() ? QString() : tip);
            m_list->setItem(i, column, item);
        }
    }
    fitItemColumn();
}

void PageTable::fitItemColumn() {
    // The view's hint looks at rows out of sight too (a thousand; a page has far fewer).
    const QAbstractItemView& view = *m_list;
    const int longest =
        std::max(view.sizeHintForColumn(0), m_list->horizontalHeader()->sectionSizeHint(0));
    m_list->setColumnWidth(0, std::max(m_itemWidth, longest));
}

QString PageTable::valueText() const {
    const int row = m_list->currentRow();
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        return {};
    }
    return QString::fromStdString(m_rows[static_cast<size_t>(row)].valueText());
}

QString PageTable::rowsText() const {
    std::vector<int> selected;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) {
        selected.push_back(index.row());
    }
    if (selected.empty() && m_list->currentRow() >= 0) {
        selected.push_back(m_list->currentRow());
    }
    std::sort(selected.begin(), selected.end());
    QStringList lines;
    for (int row : selected) {
        if (row < 0 || row >= static_cast<int>(m_rows.size())) {
            continue;
        }
        const Row& shown = m_rows[static_cast<size_t>(row)];
        QString line = QString::fromStdString(shown.label);
        if (shown.value) {
            line += QLatin1Char('\t') + QString::fromStdString(*shown.value);
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString PageTable::pageText() const {
    return QString::fromStdString(report::reportText({report::PageView{m_title, m_rows}}));
}

void PageTable::showContextMenu(const QPoint& at) {
    const bool onRow = m_list->currentRow() >= 0 && !m_rows.empty();
    m_copyValue->setEnabled(onRow);
    m_copyRow->setEnabled(onRow);
    m_copyPage->setEnabled(!m_rows.empty());
    QMenu menu(this);
    menu.addAction(m_copyValue);
    menu.addAction(m_copyRow);
    menu.addAction(m_copyPage);
    menu.exec(m_list->viewport()->mapToGlobal(at));
    for (QAction* action : {m_copyValue, m_copyRow, m_copyPage}) {
        action->setEnabled(true);  // Ctrl+C stays available; an empty copy does no harm
    }
}

bool PageTable::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
            m_list->currentRow() >= 0) {
            // Enter on a row acts as a double click on it.
            onRowDoubleClicked(m_list->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PageTable::onRowDoubleClicked(int) {}

}  // namespace orvanta
