#pragma once
// The rows a page gains from the metadata BLOB: "Authenticator" (the model's description)
// and "Certification status" (its latest status report and the report's date).

#include "info/page_model.h"
#include "mds/metadata_blob.h"

namespace orvanta {

inline constexpr const char* NOT_IN_METADATA_TEXT = "Not in the metadata BLOB";

// Appends the rows for `entry` (null: the key is not listed) and keeps the facts on the page.
void appendMetadataRows(PageModel& page, const MetadataEntry* entry);

// The warning the front ends show for a key whose latest status is REVOKED or a
// *_COMPROMISE; empty when the page's facts give no reason for one.
std::string metadataWarning(const PageModel& page);

}  // namespace orvanta
