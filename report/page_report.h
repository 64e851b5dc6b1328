#pragma once
// The pages as a report, the same for both front ends: aligned two-column text under a title
// line and the header "Item  Value", or the same rows as JSON:
//   {"pages": [{"page": "hardware info", "rows": [{"item": "VID", "value": "1209"}, ...],
//               "data": {...}}]}
// A row without a value has "value": null (and an empty value column in text). "data" holds
// what the page was built from, typed (see page_data.h); pages without it leave it out.

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "info/device_context.h"
#include "info/page_model.h"

namespace orvanta::report {

inline constexpr const char* HARDWARE_TITLE = "hardware info";
inline constexpr const char* FIDO2_TITLE = "FIDO2 Certification";
inline constexpr const char* U2F_TITLE = "U2F Certification";
inline constexpr const char* CERTIFICATE_TITLE = "certificate";

struct PageView {
    std::string title;
    std::vector<Row> rows;
    // What the page shows as typed values ("data" in JSON); null when the page has none.
    nlohmann::json data = nullptr;
};

// Columns are aligned on the widest label (in characters, UTF-8 aware); pages are
// separated by an empty line.
void printPagesText(std::ostream& out, const std::vector<PageView>& pages);
nlohmann::json pagesJson(const std::vector<PageView>& pages);

// Indented JSON text; invalid UTF-8 in texts becomes U+FFFD.
std::string dumpJson(const nlohmann::json& value);

// Number of characters (code points) of a UTF-8 text.
size_t displayWidth(const std::string& text);

// A whole report as a file holds it: the pages as text, or the JSON document of a command
// line run (the pages and "error": the text, or null) followed by a line end.
std::string reportText(const std::vector<PageView>& pages);
std::string reportJson(const std::vector<PageView>& pages,
                       const std::optional<std::string>& error = std::nullopt);

}  // namespace orvanta::report
