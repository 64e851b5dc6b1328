#pragma once
// The labels of a page's rows in order: what the page tests compare whole.

#include <string>
#include <vector>

#include "info/page_model.h"

namespace orvanta::test {

inline std::vector<std::string> labels(const PageModel& page) {
    std::vector<std::string> out;
    for (const Row& row : page.rows()) {
        out.push_back(row.label);
    }
    return out;
}

}  // namespace orvanta::test
