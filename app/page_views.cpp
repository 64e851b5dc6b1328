#include "app/page_views.h"

namespace orvanta {

PageTab::PageTab(const report::PageDefinition& page, const Pages& pages, DeviceWork& work,
                 QWidget* parent)
    : PageTable(page.model(pages), page.title, page.labelWidth, parent),
      m_page(page),
      m_pages(pages),
      m_work(work) {
    setObjectName(QStringLiteral("page-") +
                  QString::fromUtf8(page.name.data(), static_cast<int>(page.name.size())));
    m_page.clear(m_pages);
}

void PageTab::onRowDoubleClicked(int row) {
    if (m_page.rowAction == nullptr) {
        return;
    }
    // The row's action is looked up by the job: the worker owns the page while it runs.
    m_work.runDeviceJob([this, row](DeviceContext& devices, UserPrompts& prompts) {
        return m_page.rowAction(devices, m_pages, row, prompts);
    });
}

}  // namespace orvanta
