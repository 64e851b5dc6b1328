#include "info/metadata_rows.h"

namespace orvanta {

void appendMetadataRows(PageModel& page, const MetadataEntry* entry) {
    MetadataFacts facts;
    if (entry != nullptr) {
        facts.listed = true;
        facts.description = entry->description;
        if (entry->latestStatus) {
            facts.status = entry->latestStatus->status;
            facts.effectiveDate = entry->latestStatus->effectiveDate;
        }
    }
    page.AppendRow("Authenticator", facts.listed ? facts.description : NOT_IN_METADATA_TEXT);
    if (!facts.status.empty()) {
        page.AppendRow("Certification status",
                       facts.effectiveDate.empty()
                           ? facts.status
                           : facts.status + " (" + facts.effectiveDate + ")");
    }
    page.metadata = std::move(facts);
}

std::string metadataWarning(const PageModel& page) {
    if (!page.metadata || !page.metadata->compromised()) {
        return {};
    }
    return "The metadata BLOB reports this key as " + page.metadata->status +
           (page.metadata->effectiveDate.empty() ? std::string()
                                                 : " since " + page.metadata->effectiveDate) +
           ": its attestation must not be trusted.";
}

}  // namespace orvanta
