#pragma once
// A main window over the virtual key (or none), with a manual clock and recorded prompts.

#include <gtest/gtest.h>

#include <QTableWidget>
#include <memory>

#include "app/orvanta_dlg.h"
#include "app/page_table.h"
#include "gui/modal_hook.h"
#include "info/device_context.h"
#include "sim/virtual_backend.h"
#include "support/scripted_prompts.h"
#include "transport/clock.h"
#include "transport/device_list.h"

namespace orvanta::test {

// The virtual backend that also notes the clock time of every enumeration.
class TimedVirtualBackend : public VirtualBackend {
  public:
    explicit TimedVirtualBackend(Clock& clock) : VirtualBackend(clock), clock_(clock) {}
    std::vector<HidInterfaceInfo> enumerate() override {
        enumeratedAt.push_back(clock_.tickCount());
        return VirtualBackend::enumerate();
    }
    std::vector<uint32_t> enumeratedAt;

  private:
    Clock& clock_;
};

class WindowFixture : public ::testing::Test {
  protected:
    void TearDown() override { window.reset(); }
    COrvantaDlg& open() {
        window = std::make_unique<COrvantaDlg>(devices, &prompts);
        return *window;
    }
    QTableWidget* table(int tab) const {
        auto* page = qobject_cast<PageTable*>(window->tabs()->widget(tab));
        return page != nullptr ? page->table() : nullptr;
    }
    QString cell(int tab, int row, int column) const {
        QTableWidgetItem* item = table(tab)->item(row, column);
        return item != nullptr ? item->text() : QString();
    }

    ManualClock manualClock{1000};
    std::shared_ptr<TimedVirtualBackend> backend =
        std::make_shared<TimedVirtualBackend>(manualClock);
    DeviceContext devices{backend, manualClock};
    ScriptedPrompts prompts;
    std::unique_ptr<COrvantaDlg> window;
};

}  // namespace orvanta::test
