#pragma once
// check: the conformance check of a key (check/conformance.h), as text or JSON.

#include <memory>
#include <string>

#include "cli/context.h"
#include "cli/device_choice.h"

namespace orvanta::cli {

struct CheckRequest {
    bool touch = false;  // also the checks that need a touch
};

// The check of the chosen key. Exit status: 0 when no check failed, 1 when one did or the
// key does not answer, 3 when there is no key.
int runCheck(Context& context, const DeviceChoice& choice, const CheckRequest& request);
// The same for the key at path of a backend shared with other keys' threads (--all-keys).
int runKeyCheck(Context& context, const DeviceChoice& choice, std::shared_ptr<KeySource> backend,
                const std::string& path, const CheckRequest& request);

}  // namespace orvanta::cli
