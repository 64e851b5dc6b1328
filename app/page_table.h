#pragma once
// A tab page as a view: a two-column table ("Item", "Value") that mirrors one page model.
// Grid lines, whole-row selection, no editing; a double click (or Enter on a row) goes to
// onRowDoubleClicked. Rows are copied with Ctrl+C and the context menu ("Copy value",
// "Copy row", "Copy page"). The item column is as wide as its longest label, the value column
// takes the rest of the table: long values are cut at its edge, nothing scrolls sideways.
//
// The model may change on the window's worker thread: every change hands a copy of the rows
// to the window's thread, which shows them in the order they came.

#include <QTableWidget>
#include <QWidget>
#include <string>
#include <vector>

#include "info/page_model.h"

class QAction;

namespace orvanta {

class PageTable : public QWidget {
    Q_OBJECT

  public:
    // title: the page's name in a copied page ("hardware info"); itemWidth: the item column's
    // least width, in pixels.
    PageTable(PageModel& model, std::string title, int itemWidth, QWidget* parent);
    ~PageTable() override;

    QTableWidget* table() const { return m_list; }
    const std::string& title() const { return m_title; }
    // The rows as the table shows them.
    const std::vector<Row>& shownRows() const { return m_rows; }

    // The texts the copy actions put on the clipboard: the current row's whole value, the
    // selected rows as "Item<TAB>Value" lines, and the whole page as report text.
    QString valueText() const;
    QString rowsText() const;
    QString pageText() const;

    QAction* copyValueAction() const { return m_copyValue; }
    QAction* copyRowAction() const { return m_copyRow; }
    QAction* copyPageAction() const { return m_copyPage; }

  protected:
    virtual void onRowDoubleClicked(int row);
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Rebuilds the table from these rows.
    void show(std::vector<Row> rows);
    void showContextMenu(const QPoint& at);
    // Widens the item column to its longest label.
    void fitItemColumn();

    PageModel& m_model;
    std::string m_title;
    QTableWidget* m_list;
    int m_itemWidth;
    std::vector<Row> m_rows;
    QAction* m_copyValue;
    QAction* m_copyRow;
    QAction* m_copyPage;
};

}  // namespace orvanta
