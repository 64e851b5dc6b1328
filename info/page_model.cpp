#include "info/page_model.h"

#include <cstdio>

namespace orvanta {

std::string PageModel::labelAt(int index) const {
    if (index < 0 || index >= rowCount()) {
        return std::string();
    }
    return rows_[static_cast<size_t>(index)].label;
}

std::string PageModel::valueAt(int index) const {
    if (index < 0 || index >= rowCount()) {
        return std::string();
    }
    return rows_[static_cast<size_t>(index)].valueText();
}

int PageModel::AppendRow(const std::string& label, std::optional<std::string> value) {
    rows_.push_back(Row{label, std::move(value)});
    changed();
    return rowCount() - 1;
}

void PageModel::insertFirst(const std::string& label, std::optional<std::string> value) {
    rows_.insert(rows_.begin(), Row{label, std::move(value)});
    changed();
}

void PageModel::deleteAllRows() {
    rows_.clear();
    changed();
}

void PageModel::changed() {
    if (observer_) {
        observer_();
    }
}

void CertificatePage::clearCertificatePage() {
    deleteAllRows();
    if (!certificateFileName.empty()) {
        std::remove(certificateFileName.c_str());
    }
}

void Fido2CertPage::showFido2Tips() {
    insertFirst(TIPS_LABEL, std::string(TIPS_TEXT));
}

void U2fCertPage::showU2fTips() {
    insertFirst(TIPS_LABEL, std::string(TIPS_TEXT));
    AppendRow(" ", std::string(" "));
}

void U2fCertPage::initialise() {
    clearCertificatePage();
}

}  // namespace orvanta
