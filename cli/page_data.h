#pragma once
// The typed values behind the pages as JSON: shared with the window (report/page_data.h).

#include "report/page_data.h"

namespace orvanta::cli {

using report::authenticatorInfoJson;
using report::certificatePageData;
using report::hardwareData;

}  // namespace orvanta::cli
