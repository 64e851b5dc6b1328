#pragma once
// The pages on standard output: the report of report/page_report.h, as text or (with
// --json) as the command's document.

#include <nlohmann/json.hpp>
#include <vector>

#include "cli/context.h"
#include "report/page_report.h"

namespace orvanta::cli {

using report::CERTIFICATE_TITLE;
using report::displayWidth;
using report::dumpJson;
using report::FIDO2_TITLE;
using report::HARDWARE_TITLE;
using report::pagesJson;
using report::PageView;
using report::printPagesText;
using report::U2F_TITLE;

// Text on standard output, or (with --json) the command's document.
void showPages(Context& context, const std::vector<PageView>& pages);

}  // namespace orvanta::cli
