#include "info/page_model.h"

#include <cstdio>

#include "mds/metadata_blob.h"

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
    // Built in place: a row is three strings, and the getInfo rows come by the dozen.
    Row& row = rows_.emplace_back();
    row.label = label;
    row.value = std::move(value);
    changed();
    return rowCount() - 1;
}

int PageModel::AppendRow(Row row) {
    rows_.push_back(std::move(row));
    changed();
    return rowCount() - 1;
}

RowAction PageModel::actionAt(int index) const {
    if (index < 0 || index >= rowCount()) {
        return RowAction::None;
    }
    return rows_[static_cast<size_t>(index)].action;
}

void PageModel::insertFirst(Row row) {
    rows_.insert(rows_.begin(), std::move(row));
    changed();
}

size_t CertificatePage::addCertificate(PageCertificate certificate) {
    certificates.push_back(std::move(certificate));
    return certificates.size() - 1;
}

bool MetadataFacts::compromised() const {
    return isCompromiseStatus(status);
}

void PageModel::deleteAllRows() {
    rows_.clear();
    metadata.reset();
    changed();
}

void PageModel::changed() {
    if (observer_) {
        observer_();
    }
}

void CertificatePage::clearCertificatePage() {
    deleteAllRows();
    certificates.clear();
    if (!certificateFileName.empty()) {
        std::remove(certificateFileName.c_str());
    }
    removeTemporaryFiles();
}

CertificatePage::~CertificatePage() {
    removeTemporaryFiles();
}

void CertificatePage::removeTemporaryFiles() {
    for (const std::string& path : temporaryFiles) {
        std::remove(path.c_str());
    }
    temporaryFiles.clear();
}

void Fido2CertPage::showFido2Tips() {
    insertFirst(Row{TIPS_LABEL, std::string(TIPS_TEXT), RowAction::Fetch});
}

void U2fCertPage::showU2fTips() {
    insertFirst(Row{TIPS_LABEL, std::string(TIPS_TEXT), RowAction::Fetch});
    AppendRow(" ", std::string(" "));
}

void U2fCertPage::initialise() {
    clearCertificatePage();
}

}  // namespace orvanta
