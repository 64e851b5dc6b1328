#include "cli/metadata_policy.h"

#include "cli/exit_codes.h"
#include "common/terminal_text.h"
#include "info/metadata_rows.h"

namespace orvanta::cli {

int refuseCompromisedKey(Context& context, const PageModel& page) {
    const std::string warning = metadataWarning(page);
    if (warning.empty()) {
        return EXIT_DONE;
    }
    return fail(context, Error::refusedByPolicy(), terminalSafe(warning));
}

}  // namespace orvanta::cli
