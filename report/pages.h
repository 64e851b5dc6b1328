#pragma once
// Every page the inspector shows, as one list in the window's tab order: each entry says
// what the page is called, what it needs of the key and how its rows and its typed "data"
// are built. The window's tabs, the command line's info, fido2, u2f and all, its JSON and
// --all-keys all take their pages from here.

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cert/fetch_outcome.h"
#include "ctap/user_prompts.h"
#include "info/device_context.h"
#include "info/device_refresh.h"
#include "report/page_report.h"

namespace orvanta::report {

struct PageDefinition {
    // The command that shows the page on its own ("info", "fido2", "u2f").
    std::string_view name;
    // That command's line in the command line's help.
    const char* help;
    // The tab's title and the report's title line.
    const char* title;
    // The least width of the window's Item column, in pixels (its longest label may need more).
    int labelWidth;
    PageModel& (*model)(const Pages& pages);
    // Empties the page, as before a refresh or when the window first shows it.
    void (*clear)(const Pages& pages);
    // Builds the rows after the refresh from what it read (the key is present); null when
    // the refresh itself builds them, or a fetch does.
    void (*build)(const DeviceContext& context, const Pages& pages);
    // The fetch that fills the page after the refresh, and the name its messages give it;
    // null when the refresh alone fills the page.
    FetchResult (*fetch)(DeviceContext& context, const Pages& pages, UserPrompts& prompts);
    const char* fetchName;
    // What a double click on row index does in the window; null when rows only select.
    std::optional<FetchResult> (*rowAction)(DeviceContext& context, const Pages& pages, int row,
                                            UserPrompts& prompts);
    // What the page (its model) shows as typed values ("data" in JSON).
    nlohmann::json (*data)(const DeviceRecord& device, const DeviceContext::Facts& facts,
                           const PageModel& page);

    PageView view(const DeviceRecord& device, const DeviceContext::Facts& facts,
                  const Pages& pages) const;
};

// The refresh of the window and of every command (ShowDeviceInfo), then the rows of every
// page built from what it read.
void refreshPages(DeviceContext& context, const Pages& pages, const std::string& vidText,
                  const std::string& pidText);

// Every page, in the window's tab order.
std::span<const PageDefinition> pageList();
// The page a command names; null for a name no page has.
const PageDefinition* findPage(std::string_view name);

// Pages chosen from the list, in list order.
using PageSelection = std::vector<const PageDefinition*>;
// "all": every page; else the page of that name (none for an unknown name).
PageSelection pagesFor(std::string_view command);

// The chosen pages of one key, each with its data.
std::vector<PageView> pageViews(const PageSelection& selection, const DeviceRecord& device,
                                const DeviceContext::Facts& facts, const Pages& pages);

}  // namespace orvanta::report
