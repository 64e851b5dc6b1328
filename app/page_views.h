#pragma once
// The tab pages: views over the page models of the page list.

#include <functional>
#include <optional>

#include "app/page_table.h"
#include "cert/fetch_outcome.h"
#include "ctap/user_prompts.h"
#include "info/device_context.h"
#include "info/device_refresh.h"
#include "report/pages.h"

namespace orvanta {

// Where the pages' row actions run: on the window's device worker, with prompts that reach
// the window. A job that cannot start (another one still runs) is dropped. A job returns
// the result of the fetch it ran, if it ran one.
class DeviceWork {
  public:
    using Job =
        std::function<std::optional<FetchResult>(DeviceContext& devices, UserPrompts& prompts)>;
    virtual ~DeviceWork() = default;
    virtual bool runDeviceJob(Job job) = 0;
};

// One page of the list as a tab: a double click runs the page's row action (start a fetch,
// export a certificate) on the device worker; a page without one only selects.
class PageTab : public PageTable {
    Q_OBJECT

  public:
    PageTab(const report::PageDefinition& page, const Pages& pages, DeviceWork& work,
            QWidget* parent = nullptr);
    const report::PageDefinition& page() const { return m_page; }

  protected:
    void onRowDoubleClicked(int row) override;

  private:
    const report::PageDefinition& m_page;
    const Pages m_pages;
    DeviceWork& m_work;
};

}  // namespace orvanta
