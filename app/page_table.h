#pragma once
// A tab page as a view: a two-column table ("Item", "Value") that mirrors one page model.
// Grid lines, whole-row selection, no editing; a double click goes to onRowDoubleClicked.

#include <QTableWidget>
#include <QWidget>

#include "info/page_model.h"

namespace orvanta {

class PageTable : public QWidget {
    Q_OBJECT

  public:
    PageTable(PageModel& model, int itemWidth, int valueWidth, QWidget* parent);
    ~PageTable() override;

    QTableWidget* table() const { return m_list; }
    // Rebuilds the table from the model (the model's observer calls this on every change).
    void reload();

  protected:
    virtual void onRowDoubleClicked(int row);

  private:
    PageModel& m_model;
    QTableWidget* m_list;
};

}  // namespace orvanta
