#pragma once
// --all-keys: every accepted key of the chosen backend inspected at once, each on its own
// thread with its own session, so N keys on a hub cost about one key's time. The pieces a
// benchmark needs (the key listing, one key's view of a backend) are here too.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/device_choice.h"
#include "cli/device_commands.h"
#include "transport/hid_backend.h"

namespace orvanta::cli {

// The accepted FIDO collections of the backend (those of choice's VID:PID when it names
// one), ordered by path with numbers compared as numbers ("hidraw2" before "hidraw10").
std::vector<HidInterfaceInfo> fleetKeys(KeySource& backend, const DeviceChoice& choice);

// One key of a backend that several threads share: it lists that key alone and opens
// nothing else, so no thread holds a handle to another thread's key.
class OneKeyBackend final : public KeySource {
  public:
    OneKeyBackend(std::shared_ptr<KeySource> shared, HidInterfaceInfo key)
        : shared_(std::move(shared)), key_(std::move(key)) {}
    std::vector<HidInterfaceInfo> enumerate() override { return {key_}; }
    std::unique_ptr<CtapLink> open(const std::string& path, std::string* error) override;

  private:
    std::shared_ptr<KeySource> shared_;
    HidInterfaceInfo key_;
};

// info, fido2, u2f and all over every key. Text: one block per key in fleetKeys' order,
// headed by the key's identity; --json: one line per key as it finishes (the single-key
// document plus "path"). Each key runs on a backend of its own and on a clock from the
// context's keyClock. Standard error gets each key's messages and, once, its outcome with
// what went wrong. The exit status is the worst of the keys'.
int runAllKeys(Context& context, const DeviceChoice& choice, PageSelection selection);

// What runs on each key's thread: the key's context, its one-key backend, its path and its
// prompts; returns the key's exit status.
using KeyJob = std::function<int(Context& context, std::shared_ptr<KeySource> backend,
                                 const std::string& path, KeyPrompts& prompts)>;
// Any job over every key, as runAllKeys runs the pages. pageDocuments: each key's JSON line
// has "pages" (an empty list when the job made none).
int runOnEveryKey(Context& context, const DeviceChoice& choice, KeyJob job, bool pageDocuments);

}  // namespace orvanta::cli
