#pragma once
// The command line's answer to a key the metadata BLOB reports as REVOKED or compromised:
// the same warning and exit status for a key on the wire and for a saved reply.

#include "cli/context.h"
#include "info/page_model.h"

namespace orvanta::cli {

// Says the page's metadata warning once and returns EXIT_FAILED when there is one;
// EXIT_DONE otherwise.
int refuseCompromisedKey(Context& context, const PageModel& page);

}  // namespace orvanta::cli
