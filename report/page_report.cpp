#include "report/page_report.h"

#include <algorithm>
#include <ostream>
#include <sstream>

#include "common/terminal_text.h"

namespace orvanta::report {

namespace {

constexpr size_t COLUMN_GAP = 2;

nlohmann::json rowJson(const Row& row) {
    nlohmann::json value = nullptr;
    if (row.value) {
        value = *row.value;
    }
    return {{"item", row.label}, {"value", value}};
}

}  // namespace

std::string dumpJson(const nlohmann::json& value) {
    // Texts from a device need not be valid UTF-8; replace what is not instead of failing.
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

size_t displayWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void printPagesText(std::ostream& out, const std::vector<PageView>& pages) {
    bool first = true;
    for (const PageView& page : pages) {
        if (!first) {
            out << '\n';
        }
        first = false;
        // Labels and values may come from a key or a file: shown with controls escaped.
        std::vector<std::pair<std::string, std::string>> shown;
        shown.reserve(page.rows.size());
        size_t width = displayWidth("Item");
        for (const Row& row : page.rows) {
            shown.emplace_back(terminalSafe(row.label), terminalSafe(row.valueText()));
            width = std::max(width, displayWidth(shown.back().first));
        }
        auto line = [&](const std::string& label, const std::string& value) {
            std::string text = label;
            if (!value.empty()) {
                text.append(width + COLUMN_GAP - displayWidth(label), ' ');
                text += value;
            }
            // No trailing blanks: rows such as the blank separator print as empty lines.
            text.erase(text.find_last_not_of(' ') + 1);
            out << text << '\n';
        };
        out << page.title << '\n';
        line("Item", "Value");
        for (const auto& [label, value] : shown) {
            line(label, value);
        }
    }
    out.flush();
}

nlohmann::json pagesJson(const std::vector<PageView>& pages) {
    nlohmann::json list = nlohmann::json::array();
    for (const PageView& page : pages) {
        nlohmann::json rows = nlohmann::json::array();
        for (const Row& row : page.rows) {
            rows.push_back(rowJson(row));
        }
        nlohmann::json entry = {{"page", page.title}, {"rows", rows}};
        if (!page.data.is_null()) {
            entry["data"] = page.data;
        }
        list.push_back(std::move(entry));
    }
    return {{"pages", list}};
}

std::string reportText(const std::vector<PageView>& pages) {
    std::ostringstream out;
    printPagesText(out, pages);
    return out.str();
}

std::string reportJson(const std::vector<PageView>& pages,
                       const std::optional<std::string>& error) {
    nlohmann::json document = pagesJson(pages);
    document["error"] = error ? nlohmann::json(*error) : nlohmann::json(nullptr);
    return dumpJson(document) + "\n";
}

}  // namespace orvanta::report
