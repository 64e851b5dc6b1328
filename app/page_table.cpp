#include "app/page_table.h"

#include <QHeaderView>
#include <QTextDocument>
#include <QVBoxLayout>

#include "transport/terminal_text.h"

namespace orvanta {

PageTable::PageTable(PageModel& model, int itemWidth, int valueWidth, QWidget* parent)
    : QWidget(parent), m_model(model), m_list(new QTableWidget(0, 2, this)) {
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Item"), QStringLiteral("Value")});
    m_list->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setColumnWidth(0, itemWidth);
    m_list->setColumnWidth(1, valueWidth);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideRight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);

    connect(m_list, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { onRowDoubleClicked(row); });
    m_model.setObserver([this] { reload(); });
    reload();
}

PageTable::~PageTable() {
    m_model.setObserver(nullptr);
}

void PageTable::reload() {
    const std::vector<Row>& rows = m_model.rows();
    m_list->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const Row& row = rows[static_cast<size_t>(i)];
        // Long texts (keys, Base64, getInfo lines) are cut at the column's edge; the tool
        // tip shows them whole.
        for (int column = 0; column < 2; ++column) {
            const std::string& raw = column == 0 ? row.label : row.valueText();
            const QString text = QString::fromStdString(raw);
            auto* item = new QTableWidgetItem(text);
            // A cell shows control characters harmlessly; a tool tip is laid out as text (or
            // as rich text when it looks like markup), so it gets the cleaned, plain form.
            QString tip = QString::fromStdString(terminalSafe(raw));
            if (Qt::mightBeRichText(tip)) {
                tip = QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() +
                      QStringLiteral("</p>");
            }
            item->setToolTip(text.trimmed().isEmpty() ? QString() : tip);
            m_list->setItem(i, column, item);
        }
    }
}

void PageTable::onRowDoubleClicked(int) {}

}  // namespace orvanta
